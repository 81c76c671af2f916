#include "TextFile.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

TOpenedFile OpenRegularFile(const std::string& path)
{
    TOpenedFile opened;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        opened.Error = errno;
        return opened;
    }
    if (::fstat(fd, &opened.Status) != 0) {
        opened.Error = errno;
        ::close(fd);
        return opened;
    }
    if (!S_ISREG(opened.Status.st_mode)) {
        ::close(fd);
        return opened;
    }
    // A regular file never blocks a read, but a file system (a network one) may say it would:
    // the reads wait as they normally do.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    opened.Fd = fd;
    return opened;
}

long ReadUpTo(int fd, char* into, std::size_t size)
{
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, into + got, size - got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        got += std::size_t(n);
    }
    return long(got);
}

TFileText ReadTextFile(const std::string& path, std::size_t limit)
{
    TFileText read;
    const TOpenedFile file = OpenRegularFile(path);
    if (file.Fd < 0) {
        read.Error = file.Error;
        read.Result = file.Error == ENOENT ? TReadResult::Missing
                      : file.Error == 0    ? TReadResult::NotRegular
                                           : TReadResult::Failed;
        return read;
    }
    // A file that grows while it is read is read as far as the bound and a byte more.
    read.Text.resize(std::min<std::size_t>(std::size_t(file.Status.st_size), limit) + 1);
    std::size_t got = 0;
    for (;;) {
        const long n = ReadUpTo(file.Fd, read.Text.data() + got, read.Text.size() - got);
        if (n < 0) {
            read.Error = errno;
            break;
        }
        got += std::size_t(n);
        if (got < read.Text.size() || got > limit)
            break;
        read.Text.resize(std::min(read.Text.size() * 2, limit + 1));
    }
    ::close(file.Fd);
    if (read.Error != 0) {
        read.Text.clear();
        read.Result = TReadResult::Failed;
    } else if (got > limit) {
        read.Text.clear();
        read.Result = TReadResult::TooLong;
    } else {
        read.Text.resize(got);
        read.Status = file.Status;
        read.Result = TReadResult::Read;
    }
    return read;
}

std::string ReadFailure(const TFileText& read, const std::string& path, std::size_t limit)
{
    const std::string name = "«" + path + "»";
    switch (read.Result) {
    case TReadResult::Read:
        return {};
    case TReadResult::Missing:
        return name + " no existe";
    case TReadResult::NotRegular:
        return name + " no es un archivo normal (es una carpeta, una FIFO o un dispositivo)";
    case TReadResult::TooLong:
        return name + " es demasiado largo (más de " + std::to_string(limit / 1024) +
               " KiB) para ser lo que se espera";
    case TReadResult::Failed:
        break;
    }
    switch (read.Error) {
    case EACCES:
    case EPERM:
        return "no tiene permiso para leer " + name;
    case ELOOP:
        return name + " es un enlace simbólico que no lleva a ningún archivo";
    case ENOTDIR:
    case ENAMETOOLONG:
        return name + " no es un nombre de archivo válido";
    case EIO:
        return "error del disco al leer " + name;
    default:
        return "no se puede leer " + name + " (error " + std::to_string(read.Error) + ": " +
               std::generic_category().message(read.Error) + ")";
    }
}
