#pragma once
// Schedule files (".tem"): plain text, one flag per line, "1" or "0" followed by CR LF, the
// 1728 flags in schedule order (output D0 first; within an output slot 0 from hour 0 to 23,
// then slot 1, ...). A file written here is 5184 bytes.
//
// Reading: a line ends at LF; CR bytes are not part of any line (a CR before LF belongs to the
// line end, a lone CR is dropped). A line that is exactly "1" is on, every other line off.
// Past the end of the file every line reads as empty (off); lines after the 1728th are not
// read. Lines are never buffered: a line of any length costs the same small memory.

#include "core/Schedule.h"
#include "core/ScopedOverride.h"

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

using TScheduleFlags = std::array<std::uint8_t, TSchedule::Size>;

// A failed file operation. The message follows the error number: 2 "File not found",
// 3 "Invalid filename", 4 "Too many open files", 5 "File access denied", 100 "Read beyond end
// of file", 101 "Disk full", 106 "Invalid numeric input", any other "I/O error <number>".
// A system error that none of these numbers describes keeps the system's own text, with the
// number OtherSystemError.
class EInOutError : public std::runtime_error
{
public:
    static constexpr int OtherSystemError = -1;

    explicit EInOutError(int code);
    int ErrorCode() const { return FErrorCode; }
    // The system error (errno) behind it; 0 when it has none.
    int SystemError() const { return FSystemError; }
    static std::string MessageFor(int code);

    // The error for a system error (errno) met while reading or while writing a file: the
    // same device error (EIO) is a read error in one and a write error in the other.
    enum class TStep
    {
        Read,
        Write
    };
    static EInOutError FromErrno(int err, TStep step);

private:
    EInOutError(int code, int err, const std::string& message);

    int FErrorCode;
    int FSystemError = 0;
};

// Reads a schedule file. Only regular files are read (a directory, device or FIFO is refused
// at once, without blocking), and only as far as the 1728 lines: a file that has not given
// them in its first 64 MB is refused with 106 "Invalid numeric input". Throws EInOutError.
TScheduleFlags ReadScheduleFile(const std::string& path);

// The flags that a file's text gives.
TScheduleFlags ParseScheduleText(std::string_view text);

// A file that is not a whole schedule; what() says why, in Spanish ("está incompleto: ...").
class ENotASchedule : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The flags of a text that is a whole schedule, as a save writes it: 1728 lines, each exactly
// "0" or "1" (ended by CR LF or LF; the last line's end may be missing). False, with `why` in
// Spanish, for anything else: empty, cut short, longer, or a line that is no flag.
bool ParseWholeSchedule(std::string_view text, TScheduleFlags& flags, std::string& why);

// Reads a schedule file that must be whole, for a program that switches by it with nobody
// looking. Throws EInOutError when it cannot be read, ENotASchedule when it is not whole.
TScheduleFlags ReadWholeScheduleFile(const std::string& path);

// Writes a file whole, for every file the programs save (a schedule, the timer's holds). The
// text goes to an unnamed file in the target's folder (a hidden temporary file where the file
// system has none), which replaces the target only once all was written, after which the folder
// is synced; on any failure the previous file is left as it was and EInOutError is thrown. A
// symbolic link stays a link and the file it leads to is written, created if missing; a link
// loop is an error. A file that may be written in a folder that takes no new file from us (not
// writable, or sticky with the file another's) is written in place.
void WriteWholeFile(const std::string& path, const std::string& text);
// Writes a schedule file, as WriteWholeFile.
void WriteScheduleFile(const std::string& path, const TScheduleFlags& flags);

// While it lives, saves go through a hidden temporary file, as on a file system without
// unnamed files.
class TScopedNoUnnamedFiles : public TScopedOverride<bool>
{
public:
    TScopedNoUnnamedFiles();
};

// The text a schedule file holds for these flags.
std::string ScheduleText(const TScheduleFlags& flags);
