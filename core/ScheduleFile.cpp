#include "ScheduleFile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

// Turns bytes into flags line by line, remembering only whether the current line is "1".
class FlagReader
{
public:
    explicit FlagReader(TScheduleFlags& flags) : FFlags(flags) { FFlags.fill(0); }

    // Feeds bytes; returns false once every flag has been read.
    bool Feed(std::string_view bytes)
    {
        const char* p = bytes.data();
        const size_t n = bytes.size();
        size_t i = 0;
        while (i < n) {
            if (FLine >= FFlags.size())
                return false;
            // Most lines are a whole "1\r\n" or "0\r\n" at the start of a line.
            if (FLength == 0 && i + 2 < n && p[i + 1] == '\r' && p[i + 2] == '\n' && p[i] != '\r' &&
                p[i] != '\n') {
                FFlags[FLine++] = p[i] == '1' ? 1 : 0;
                i += 3;
                continue;
            }
            const char ch = p[i++];
            if (ch == '\r')
                continue;
            if (ch == '\n') {
                FFlags[FLine++] = (FLength == 1 && FFirst == '1') ? 1 : 0;
                FLength = 0;
                continue;
            }
            if (FLength == 0)
                FFirst = ch;
            if (FLength < 2)
                ++FLength;
        }
        return FLine < FFlags.size();
    }

    // The end of the file ends the last line; the lines after it read as empty.
    void Finish()
    {
        if (FLine < FFlags.size() && FLength > 0)
            FFlags[FLine] = (FLength == 1 && FFirst == '1') ? 1 : 0;
    }

private:
    TScheduleFlags& FFlags;
    size_t FLine = 0;
    int FLength = 0; // 0, 1, or 2 for "longer than one character"
    char FFirst = 0;
};

class Fd
{
public:
    explicit Fd(int fd) : FFd(fd) {}
    ~Fd()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return FFd; }
    // Closes now; returns the close error (0 on success).
    int Close()
    {
        const int fd = FFd;
        FFd = -1;
        return ::close(fd) == 0 ? 0 : errno;
    }

private:
    int FFd;
};

[[noreturn]] void ThrowReadError(int err)
{
    throw EInOutError::FromErrno(err, EInOutError::TStep::Read);
}

[[noreturn]] void ThrowWriteError(int err)
{
    throw EInOutError::FromErrno(err, EInOutError::TStep::Write);
}

} // namespace

EInOutError::EInOutError(int code) : std::runtime_error(MessageFor(code)), FErrorCode(code) {}

EInOutError::EInOutError(int code, int err, const std::string& message)
    : std::runtime_error(message), FErrorCode(code), FSystemError(err)
{
}

std::string EInOutError::MessageFor(int code)
{
    switch (code) {
    case 2:
        return "File not found";
    case 3:
        return "Invalid filename";
    case 4:
        return "Too many open files";
    case 5:
        return "File access denied";
    case 100:
        return "Read beyond end of file";
    case 101:
        return "Disk full";
    case 106:
        return "Invalid numeric input";
    default:
        return "I/O error " + std::to_string(code);
    }
}

EInOutError EInOutError::FromErrno(int err, TStep step)
{
    const bool writing = step == TStep::Write;
    int code = OtherSystemError;
    switch (err) {
    case ENOENT:
        // A file being created is missing only when a folder on its path is.
        code = writing ? 3 : 2;
        break;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case EINVAL:
    case EILSEQ:
        code = 3;
        break;
    case EMFILE:
    case ENFILE:
        code = 4;
        break;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
    case EBUSY:
    case EEXIST:
        code = 5;
        break;
    case EIO:
        code = writing ? 101 : 100;
        break;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        code = 101;
        break;
    default:
        break;
    }
    if (code != OtherSystemError)
        return {code, err, MessageFor(code)};
    return {code, err, "I/O error: " + std::generic_category().message(err)};
}

TScheduleFlags ParseScheduleText(std::string_view text)
{
    TScheduleFlags flags{};
    FlagReader reader(flags);
    reader.Feed(text);
    reader.Finish();
    return flags;
}

TScheduleFlags ReadScheduleFile(const std::string& path)
{
    if (path.empty())
        throw EInOutError(2);
    // Non-blocking, so that opening a FIFO or a device never waits; only regular files are read.
    Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.Get() < 0)
        ThrowReadError(errno);
    struct stat st
    {
    };
    if (::fstat(fd.Get(), &st) != 0)
        ThrowReadError(errno);
    if (!S_ISREG(st.st_mode))
        throw EInOutError(5);
    const int flagsNow = ::fcntl(fd.Get(), F_GETFL);
    if (flagsNow >= 0)
        (void)::fcntl(fd.Get(), F_SETFL, flagsNow & ~O_NONBLOCK);

    TScheduleFlags flags{};
    FlagReader reader(flags);
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ThrowReadError(errno);
        }
        if (n == 0)
            break;
        if (!reader.Feed(std::string_view(buffer, size_t(n))))
            break;
    }
    reader.Finish();
    if (const int err = fd.Close())
        ThrowReadError(err);
    return flags;
}

std::string ScheduleText(const TScheduleFlags& flags)
{
    std::string text;
    text.reserve(flags.size() * 3);
    for (std::uint8_t f : flags) {
        text += f == 1 ? '1' : '0';
        text += "\r\n";
    }
    return text;
}

void WriteScheduleFile(const std::string& pathIn, const TScheduleFlags& flags)
{
    if (pathIn.empty())
        throw EInOutError(2);
    // Write beside the file a symbolic link points to, so the link stays a link.
    std::string path = pathIn;
    if (char* resolved = ::realpath(pathIn.c_str(), nullptr)) {
        path = resolved;
        std::free(resolved);
    }
    struct stat old
    {
    };
    const bool exists = ::stat(path.c_str(), &old) == 0;
    if (exists && S_ISDIR(old.st_mode))
        throw EInOutError(5);
    if (exists && !S_ISREG(old.st_mode))
        throw EInOutError(5);
    // The existing file must be replaceable by us, as it would be when written in place.
    if (exists && ::access(path.c_str(), W_OK) != 0)
        ThrowWriteError(errno);

    std::string temp = path + ".XXXXXX";
    Fd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (fd.Get() < 0)
        ThrowWriteError(errno);
    bool committed = false;
    struct Cleanup
    {
        const std::string& name;
        bool& committed;
        ~Cleanup()
        {
            if (!committed)
                ::unlink(name.c_str());
        }
    } cleanup{temp, committed};

    // The new file gets the old one's permissions, or those of a newly created file.
    mode_t mode = 0;
    if (exists) {
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    (void)::fchmod(fd.Get(), mode);

    const std::string text = ScheduleText(flags);
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd.Get(), text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ThrowWriteError(errno);
        }
        done += size_t(n);
    }
    if (::fsync(fd.Get()) != 0 && errno != EINVAL)
        ThrowWriteError(errno);
    if (const int err = fd.Close())
        ThrowWriteError(err);
    if (::rename(temp.c_str(), path.c_str()) != 0)
        ThrowWriteError(errno);
    committed = true;
}
