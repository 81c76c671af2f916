// The artwork lives in the resource object this library carries; nothing else to compile.
