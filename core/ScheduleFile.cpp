#include "ScheduleFile.h"

#include "core/TextFile.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
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

constexpr size_t ReadLimit = size_t{64} * 1024 * 1024;

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
    void Reset(int fd)
    {
        if (FFd >= 0)
            ::close(FFd);
        FFd = fd;
    }
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

namespace {

// Opens a schedule file for reading. Non-blocking, so that opening a FIFO or a device never
// waits; only regular files are read.
int OpenForReading(const std::string& path)
{
    if (path.empty())
        throw EInOutError(2);
    const TOpenedFile file = OpenRegularFile(path);
    if (file.Error != 0)
        ThrowReadError(file.Error);
    if (file.Fd < 0) // not a regular file
        throw EInOutError(5);
    return file.Fd;
}

// Reads until `size` bytes are in or the file ends; the bytes read.
std::size_t ReadOrThrow(int fd, char* into, std::size_t size)
{
    const long n = ReadUpTo(fd, into, size);
    if (n < 0)
        ThrowReadError(errno);
    return std::size_t(n);
}

} // namespace

TScheduleFlags ReadScheduleFile(const std::string& path)
{
    Fd fd(OpenForReading(path));
    TScheduleFlags flags{};
    FlagReader reader(flags);
    char buffer[16384];
    size_t read = 0;
    for (;;) {
        const size_t n = ReadOrThrow(fd.Get(), buffer, sizeof buffer);
        if (n == 0 || !reader.Feed(std::string_view(buffer, n)))
            break;
        // A schedule is 5184 bytes: a file without its lines this far in is none, and may have
        // no end at all (a huge sparse file, a /proc file).
        read += n;
        if (read >= ReadLimit)
            throw EInOutError(106);
    }
    reader.Finish();
    if (const int err = fd.Close())
        ThrowReadError(err);
    return flags;
}

namespace {

// A line as a message shows it: quoted, cut short, and any byte that is no printable ASCII as
// \xNN.
std::string Glimpse(std::string_view line)
{
    constexpr std::size_t Shown = 12;
    std::string shown = "«";
    for (const char ch : line.substr(0, Shown)) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte >= 0x20 && byte < 0x7f) {
            shown += ch;
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            shown += hex;
        }
    }
    return shown + (line.size() > Shown ? "…»" : "»");
}

} // namespace

bool ParseWholeSchedule(std::string_view text, TScheduleFlags& flags, std::string& why)
{
    if (text.empty()) {
        why = "el archivo está vacío";
        return false;
    }
    if (text.starts_with("\xEF\xBB\xBF")) {
        why = "empieza con la marca de UTF-8 (BOM), que un horario no lleva";
        return false;
    }
    std::size_t line = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        const bool ended = end != std::string_view::npos;
        if (!ended)
            end = text.size();
        std::string_view flag = text.substr(at, end - at);
        if (!flag.empty() && flag.back() == '\r')
            flag.remove_suffix(1);
        if (line == flags.size()) {
            why = "tiene más líneas que las " + std::to_string(flags.size()) + " de un horario";
            return false;
        }
        if (flag != "0" && flag != "1") {
            why = "la línea " + std::to_string(line + 1) + " (" + Glimpse(flag) + ") no es 0 ni 1";
            return false;
        }
        flags[line++] = flag == "1" ? 1 : 0;
        at = ended ? end + 1 : end;
    }
    if (line < flags.size()) {
        why = "está incompleto: tiene " + std::to_string(line) + " de las " +
              std::to_string(flags.size()) + " líneas de un horario";
        return false;
    }
    return true;
}

TScheduleFlags ReadWholeScheduleFile(const std::string& path)
{
    Fd fd(OpenForReading(path));
    // A whole schedule is at most 5184 bytes. A longer file is none, but it is read a little
    // further to say why (a blank after a flag makes a file a byte too long).
    constexpr std::size_t Looked = std::size_t{TSchedule::Size} * 3 * 4;
    std::string text(Looked + 1, '\0');
    const std::size_t got = ReadOrThrow(fd.Get(), text.data(), text.size());
    if (const int err = fd.Close())
        ThrowReadError(err);
    text.resize(got);
    TScheduleFlags flags{};
    std::string why;
    if (ParseWholeSchedule(text, flags, why))
        return flags;
    throw ENotASchedule(why);
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

namespace {

// The file a save writes: the path itself, or the file its symbolic links lead to, also when
// that file does not exist yet (writing through a dangling link creates its target). A loop
// is ELOOP, as it is for open().
std::string SaveTarget(const std::string& path)
{
    std::string file = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st
        {
        };
        if (::lstat(file.c_str(), &st) != 0) {
            if (errno == ENOENT)
                return file;
            ThrowWriteError(errno);
        }
        if (!S_ISLNK(st.st_mode))
            return file;
        char link[PATH_MAX];
        const ssize_t n = ::readlink(file.c_str(), link, sizeof link);
        if (n < 0)
            ThrowWriteError(errno);
        if (size_t(n) == sizeof link)
            ThrowWriteError(ENAMETOOLONG);
        const std::string_view to(link, size_t(n));
        const size_t slash = file.rfind('/');
        if (to.starts_with('/') || slash == std::string::npos)
            file = to;
        else
            file = file.substr(0, slash + 1).append(to);
    }
    ThrowWriteError(ELOOP);
}

mode_t NewFileMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

void WriteText(int fd, std::string_view text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ThrowWriteError(errno);
        }
        done += size_t(n);
    }
    if (::fsync(fd) != 0 && errno != EINVAL)
        ThrowWriteError(errno);
}

// A name for a moment: short and fixed in length, so that it is legal beside any legal name.
std::string TempName()
{
    static std::mt19937 random{std::random_device{}()};
    char name[32];
    std::snprintf(name, sizeof name, ".prvardo-%08x", unsigned(random()));
    return name;
}

// Writes over the file itself, for a folder that lets no new file be put beside it (one we may
// not write, or a sticky folder where the file is someone else's) while the file may be written.
void WriteInPlace(int dir, const std::string& name, const std::string& text)
{
    Fd fd(::openat(dir, name.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY));
    if (fd.Get() < 0)
        ThrowWriteError(errno);
    struct stat st
    {
    };
    if (::fstat(fd.Get(), &st) != 0)
        ThrowWriteError(errno);
    if (!S_ISREG(st.st_mode))
        throw EInOutError(5);
    WriteText(fd.Get(), text);
    if (::ftruncate(fd.Get(), off_t(text.size())) != 0)
        ThrowWriteError(errno);
    if (const int err = fd.Close())
        ThrowWriteError(err);
}

bool& UnnamedFilesAllowed()
{
    static bool allowed = true;
    return allowed;
}

// An unnamed file in the folder, or -1 with errno set.
int OpenUnnamed(int dir)
{
    if (!UnnamedFilesAllowed()) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return ::openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
}

bool FolderRefusesNewFiles(int err)
{
    return err == EACCES || err == EPERM;
}

// Gives the unnamed file `fd` the name `name` in the folder; false when the name is taken.
bool LinkUnnamed(int fd, int dir, const std::string& name)
{
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, self.c_str(), dir, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return true;
    // Without /proc the file can be linked by its descriptor, where we are allowed to.
    if (errno == ENOENT && ::linkat(fd, "", dir, name.c_str(), AT_EMPTY_PATH) == 0)
        return true;
    if (errno == EEXIST)
        return false;
    ThrowWriteError(errno);
}

} // namespace

TScopedNoUnnamedFiles::TScopedNoUnnamedFiles() : TScopedOverride(UnnamedFilesAllowed(), false) {}

void WriteScheduleFile(const std::string& path, const TScheduleFlags& flags)
{
    WriteWholeFile(path, ScheduleText(flags));
}

void WriteWholeFile(const std::string& pathIn, const std::string& text)
{
    if (pathIn.empty())
        throw EInOutError(2);
    // A symbolic link stays a link: the file it leads to is written.
    const std::string path = SaveTarget(pathIn);
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty())
        throw EInOutError(3);
    // The folder is synced after the rename, so that the new name survives a power cut; a
    // folder we may not read is still used by its path.
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const bool canSyncFolder = dir.Get() >= 0;
    if (!canSyncFolder)
        dir.Reset(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() < 0)
        ThrowWriteError(errno);

    struct stat old
    {
    };
    const bool exists = ::fstatat(dir.Get(), name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists && errno != ENOENT)
        ThrowWriteError(errno);
    if (exists && !S_ISREG(old.st_mode))
        throw EInOutError(5);
    // The existing file must be one we may write, as it would be when written in place.
    if (exists && ::faccessat(dir.Get(), name.c_str(), W_OK, AT_EACCESS) != 0)
        ThrowWriteError(errno);

    // The new text goes to an unnamed file, which gets a name only once it is complete: a save
    // killed part-way leaves nothing behind. Where the file system has no unnamed files, a
    // hidden temporary file stands in, which only such a kill can leave behind.
    Fd temp(OpenUnnamed(dir.Get()));
    std::string tempName;
    if (temp.Get() < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        if (exists && FolderRefusesNewFiles(errno))
            return WriteInPlace(dir.Get(), name, text);
        ThrowWriteError(errno);
    }
    const bool unnamed = temp.Get() >= 0;
    for (unsigned attempt = 0; !unnamed && temp.Get() < 0 && attempt < 100; ++attempt) {
        tempName = TempName();
        temp.Reset(::openat(dir.Get(), tempName.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (temp.Get() < 0 && errno != EEXIST) {
            if (exists && FolderRefusesNewFiles(errno))
                return WriteInPlace(dir.Get(), name, text);
            ThrowWriteError(errno);
        }
    }
    if (temp.Get() < 0)
        ThrowWriteError(EEXIST);
    struct RemoveName
    {
        int dir;
        std::string& name;
        ~RemoveName()
        {
            if (!name.empty())
                ::unlinkat(dir, name.c_str(), 0);
        }
    } removeName{dir.Get(), tempName};

    // The new file keeps the old one's owner where we may give it, and its permissions.
    if (exists) {
        // Where we may not (another user's file), the new one is ours: no reason to stop.
        [[maybe_unused]] const int given = ::fchown(temp.Get(), old.st_uid, old.st_gid);
    }
    (void)::fchmod(temp.Get(), exists ? old.st_mode & 07777 : NewFileMode());
    WriteText(temp.Get(), text);

    if (unnamed) {
        // A new file gets its name at once; an existing one is replaced through a name for a
        // moment, as a link cannot replace a name.
        bool named = !exists && LinkUnnamed(temp.Get(), dir.Get(), name);
        for (unsigned attempt = 0; !named && attempt < 100; ++attempt) {
            tempName = TempName();
            named = LinkUnnamed(temp.Get(), dir.Get(), tempName);
            if (!named)
                tempName.clear();
        }
        if (!named)
            ThrowWriteError(EEXIST);
    }
    if (const int err = temp.Close())
        ThrowWriteError(err);
    if (!tempName.empty() &&
        ::renameat(dir.Get(), tempName.c_str(), dir.Get(), name.c_str()) != 0) {
        const int err = errno;
        if (exists && FolderRefusesNewFiles(err)) {
            ::unlinkat(dir.Get(), tempName.c_str(), 0);
            tempName.clear();
            return WriteInPlace(dir.Get(), name, text);
        }
        ThrowWriteError(err);
    }
    tempName.clear();
    if (canSyncFolder && ::fsync(dir.Get()) != 0 && errno != EINVAL)
        ThrowWriteError(errno);
}
