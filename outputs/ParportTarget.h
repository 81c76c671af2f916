#pragma once
// The parallel port target's seam: the three system calls it makes on the ppdev device
// (/dev/parport0). Open claims the port (PPCLAIM), each Write puts the word on the data register
// (PPWDATA, bits 6 and 7 always 0), Close releases the port (PPRELEASE) and closes it. The data
// lines keep their levels after the release: the owner writes the word 0 before it closes.

#include "core/ScopedOverride.h"

#include <functional>

// The calls as the system has them: -1 with errno set on failure.
struct TParportCalls
{
    std::function<int(const char* path, int flags)> Open;
    std::function<int(int fd, unsigned long request, void* argument)> Ioctl;
    std::function<int(int fd)> Close;
};

// While it lives, parallel port targets opened from then on use `calls` (a test's stand-ins of a
// port); the calls before it come back when it ends. A target keeps the calls it opened with
// until it is closed.
class TScopedParportCalls : public TScopedOverride<TParportCalls>
{
public:
    explicit TScopedParportCalls(TParportCalls calls);
};
