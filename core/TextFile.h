#pragma once
// Reading the small files the programs keep beside their schedules (the settings file, holiday
// calendars, the holds of the timer) without ever waiting or filling memory: a file is opened
// without blocking, only a regular file is read (a folder, a FIFO or a device is refused at
// once), and it is read no further than one byte beyond a bound that no real file of its kind
// reaches, so that a file without end (/dev/zero behind a link, a file of /proc) costs no more
// than that bound.

#include <cstddef>
#include <string>

#include <sys/stat.h>

// A file opened for reading by OpenRegularFile.
struct TOpenedFile
{
    int Fd = -1;   // the descriptor, blocking again for the reads; -1 when not opened
    int Error = 0; // errno when open or fstat failed; 0 with no descriptor: not a regular file
    // The opened file's.
    struct stat Status
    {
    };
};

// Opens `path` for reading without waiting. A file that is not regular (a folder, a FIFO, a
// device) is closed again at once (Fd -1, Error 0).
TOpenedFile OpenRegularFile(const std::string& path);

// Reads until `size` bytes are in or the file ends: the count read, or -1 with errno set.
long ReadUpTo(int fd, char* into, std::size_t size);

// How reading a whole file ended.
enum class TReadResult
{
    Read,
    Missing,    // there is no such file
    NotRegular, // a folder, a FIFO, a device
    TooLong,    // longer than the bound
    Failed      // any other error, in Error
};

struct TFileText
{
    TReadResult Result = TReadResult::Failed;
    std::string Text; // the whole file, when Read
    int Error = 0;    // errno, when Failed
    // The opened file's, when Read.
    struct stat Status
    {
    };
};

// Reads the whole file at `path` if it is regular and at most `limit` bytes long.
TFileText ReadTextFile(const std::string& path, std::size_t limit);

// Why `read` is not the file's text, in Spanish and naming the file: "«festivos.ics» no es un
// archivo normal (una carpeta, una FIFO o un dispositivo)". Empty when it was read.
std::string ReadFailure(const TFileText& read, const std::string& path, std::size_t limit);
