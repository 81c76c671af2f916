// Schedule files: the format to the byte, the reading rules, and failures that keep data safe.

#include "core/ScheduleFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <optional>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct TempDir
{
    fs::path path;
    TempDir()
    {
        std::string pattern = (fs::temp_directory_path() / "prvardo-tem-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string File(const char* name) const { return (path / name).string(); }
};

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

TScheduleFlags OneFlag(int index)
{
    TScheduleFlags f{};
    f[size_t(index)] = 1;
    return f;
}

// Bytes this process has read through read() so far.
long long BytesRead()
{
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value)
        if (key == "rchar:")
            return value;
    return -1;
}

// The user and group "nobody".
constexpr uid_t Nobody = 65534;

// The names in a folder, sorted.
std::vector<std::string> Names(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

int ErrorOfRead(const std::string& path)
{
    try {
        ReadScheduleFile(path);
    } catch (const EInOutError& e) {
        return e.ErrorCode();
    }
    return 0;
}

} // namespace

TEST(ScheduleFileFormat, FreshScheduleIs1728LinesOfZero)
{
    TempDir dir;
    WriteScheduleFile(dir.File("a.tem"), TScheduleFlags{});
    const std::string text = ReadAll(dir.File("a.tem"));
    ASSERT_EQ(text.size(), 5184u);
    for (size_t i = 0; i < 1728; ++i)
        ASSERT_EQ(text.substr(i * 3, 3), "0\r\n") << "line " << i;
}

TEST(ScheduleFileFormat, EachFlagHasItsLine)
{
    struct Case
    {
        int plane, slot, hour, line;
    };
    // D0 at 0 h 0 min, D1 at 8 h 10 min, D5 at 23 h 55 min.
    const Case cases[] = {{0, 0, 0, 0}, {1, 2, 8, 344}, {5, 11, 23, 1727}};
    TempDir dir;
    for (const Case& c : cases) {
        const TScheduleFlags flags = OneFlag(TSchedule::Index(c.plane, c.slot, c.hour));
        WriteScheduleFile(dir.File("b.tem"), flags);
        const std::string text = ReadAll(dir.File("b.tem"));
        ASSERT_EQ(text.size(), 5184u);
        for (int line = 0; line < 1728; ++line)
            ASSERT_EQ(text[size_t(line) * 3], line == c.line ? '1' : '0')
                << "case line " << c.line << ", line " << line;
    }
}

TEST(ScheduleFileFormat, ReadingRules)
{
    struct Case
    {
        const char* what;
        std::string text;
        std::vector<int> on; // indices that read as 1
    };
    std::string tenOnes;
    for (int i = 0; i < 10; ++i)
        tenOnes += "1\r\n";
    std::string trailingBlank;
    for (int i = 0; i < 1728; ++i)
        trailingBlank += "1 \r\n";
    std::string lf;
    for (int i = 0; i < 1728; ++i)
        lf += (i % 5 == 0) ? "1\n" : "0\n";
    std::vector<int> lfOn;
    for (int i = 0; i < 1728; i += 5)
        lfOn.push_back(i);
    std::string longer(std::size_t{1728} * 3, '\n');
    longer += "1\r\n1\r\n"; // lines 1728 and 1729 are not read

    const Case cases[] = {
        {"ten lines of 1", tenOnes, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {"lines with a trailing blank", trailingBlank, {}},
        {"LF line ends", lf, lfOn},
        {"empty file", "", {}},
        {"last line without line end", "0\n1", {1}},
        {"lone CR is dropped", "\r1\n1\r1\n1\r\r\n", {0, 2}},
        {"other texts", " 1\n10\n0\n\n1\n+1\n", {4}},
        {"binary bytes", std::string("\x01\xff\0\n1\n", 6), {1}},
        {"past the 1728th line", longer, {}},
    };
    for (const Case& c : cases) {
        const TScheduleFlags flags = ParseScheduleText(c.text);
        TScheduleFlags expected{};
        for (int i : c.on)
            expected[size_t(i)] = 1;
        EXPECT_EQ(flags, expected) << c.what;
    }
}

// The strict reading of a program that switches with nobody looking: only a whole schedule.
TEST(ScheduleFileFormat, WholeScheduleRules)
{
    TScheduleFlags some{};
    for (std::size_t i = 0; i < some.size(); i += 7)
        some[i] = 1;
    const std::string crlf = ScheduleText(some);
    std::string lf;
    for (char ch : crlf)
        if (ch != '\r')
            lf += ch;
    const struct
    {
        const char* What;
        std::string Text;
        const char* Why; // a key word of the reason; nullptr: whole
    } cases[] = {
        {"as a save writes it", crlf, nullptr},
        {"LF line ends", lf, nullptr},
        {"the last line end missing", crlf.substr(0, crlf.size() - 2), nullptr},
        {"empty", "", "vacío"},
        {"cut short by a line", crlf.substr(0, crlf.size() - 3), "incompleto"},
        {"cut short within a line end", crlf.substr(0, crlf.size() / 2 + 1), "incompleto"},
        {"a line more", crlf + "0\r\n", "más líneas"},
        {"a blank line at the end", crlf + "\r\n", "más líneas"},
        {"a flag with a blank", " 1\r\n" + crlf.substr(3), "línea 1 "},
        {"a flag that is no 0 or 1", crlf.substr(0, 30) + "2\r\n" + crlf.substr(33), "línea 11 "},
        {"binary bytes", std::string(3000, '\xff'), "línea 1 "},
    };
    for (const auto& c : cases) {
        TScheduleFlags flags{};
        std::string why;
        const bool whole = ParseWholeSchedule(c.Text, flags, why);
        EXPECT_EQ(whole, c.Why == nullptr) << c.What << ": " << why;
        if (whole)
            EXPECT_EQ(flags, some) << c.What;
        else
            EXPECT_NE(why.find(c.Why), std::string::npos) << c.What << ": " << why;
    }
}

// A file that is no whole schedule is refused for the reason a reader can act on, also when that
// reason makes it longer than a schedule.
TEST(ScheduleFileFormat, AWholeScheduleFileIsRefusedForItsRealReason)
{
    TempDir dir;
    const std::string crlf = ScheduleText(TScheduleFlags{});
    const struct
    {
        const char* What;
        std::string Text;
        const char* Why; // a key word of the reason
    } cases[] = {
        {"a blank after a flag", crlf.substr(0, 30) + "1 \r\n" + crlf.substr(33), "línea 11 («1 »)"},
        {"a UTF-8 byte order mark", "\xEF\xBB\xBF" + crlf, "BOM"},
        {"a line more", crlf + "0\r\n", "más líneas"},
        {"a long line of bytes", std::string(100000, '\x01'), "línea 1 («\\x01"},
    };
    for (const auto& c : cases) {
        WriteAll(dir.File("aula.tem"), c.Text);
        try {
            ReadWholeScheduleFile(dir.File("aula.tem"));
            ADD_FAILURE() << c.What << ": read as whole";
        } catch (const ENotASchedule& e) {
            EXPECT_NE(std::string(e.what()).find(c.Why), std::string::npos)
                << c.What << ": " << e.what();
        }
    }
}

TEST(ScheduleFileFormat, LfAndCrLfFilesReadAlike)
{
    TempDir dir;
    std::mt19937 random(7);
    TScheduleFlags flags{};
    for (auto& f : flags)
        f = random() % 2;
    std::string crlf = ScheduleText(flags);
    std::string lf;
    for (char ch : crlf)
        if (ch != '\r')
            lf += ch;
    WriteAll(dir.File("crlf.tem"), crlf);
    WriteAll(dir.File("lf.tem"), lf);
    EXPECT_EQ(ReadScheduleFile(dir.File("crlf.tem")), flags);
    EXPECT_EQ(ReadScheduleFile(dir.File("lf.tem")), flags);
}

// A file is read in blocks; a line end split between two blocks still ends the line.
TEST(ScheduleFileFormat, LinesAcrossReadBlocks)
{
    TempDir dir;
    for (int shift = 0; shift < 4; ++shift) {
        std::string text(size_t(16381 + shift), 'a');
        text += "\n1\r\n0\r\n1\r\n";
        WriteAll(dir.File("blocks.tem"), text);
        TScheduleFlags expected{};
        expected[1] = 1;
        expected[3] = 1;
        EXPECT_EQ(ReadScheduleFile(dir.File("blocks.tem")), expected) << "shift " << shift;
    }
}

TEST(ScheduleFileFormat, RandomScheduleRoundTrips)
{
    TempDir dir;
    std::mt19937 random(2024);
    for (int round = 0; round < 5; ++round) {
        TScheduleFlags flags{};
        for (auto& f : flags)
            f = random() % 2;
        WriteScheduleFile(dir.File("r.tem"), flags);
        EXPECT_EQ(ReadScheduleFile(dir.File("r.tem")), flags) << "round " << round;
    }
}

TEST(ScheduleFileErrors, MessagesFollowTheNumber)
{
    const std::pair<int, const char*> cases[] = {
        {2, "File not found"},
        {3, "Invalid filename"},
        {4, "Too many open files"},
        {5, "File access denied"},
        {100, "Read beyond end of file"},
        {101, "Disk full"},
        {106, "Invalid numeric input"},
        {32, "I/O error 32"},
    };
    for (const auto& [code, text] : cases) {
        EInOutError e(code);
        EXPECT_STREQ(e.what(), text);
        EXPECT_EQ(e.ErrorCode(), code);
    }
}

TEST(ScheduleFileErrors, SystemErrorsMapOntoTheFileErrors)
{
    using TStep = EInOutError::TStep;
    struct Case
    {
        int err;
        TStep step;
        int code;
    };
    const Case cases[] = {
        {ENOENT, TStep::Read, 2},        {ENOENT, TStep::Write, 3},   {ENOTDIR, TStep::Read, 3},
        {ENAMETOOLONG, TStep::Write, 3}, {ELOOP, TStep::Write, 3},    {EMFILE, TStep::Read, 4},
        {ENFILE, TStep::Write, 4},       {EACCES, TStep::Read, 5},    {EPERM, TStep::Write, 5},
        {EROFS, TStep::Write, 5},        {EISDIR, TStep::Read, 5},    {EIO, TStep::Read, 100},
        {EIO, TStep::Write, 101},        {ENOSPC, TStep::Write, 101}, {EDQUOT, TStep::Write, 101},
        {EFBIG, TStep::Write, 101},
    };
    for (const Case& c : cases) {
        const EInOutError e = EInOutError::FromErrno(c.err, c.step);
        EXPECT_EQ(e.ErrorCode(), c.code) << "errno " << c.err;
        EXPECT_EQ(e.SystemError(), c.err) << "errno " << c.err;
        EXPECT_EQ(e.what(), EInOutError::MessageFor(c.code)) << "errno " << c.err;
    }
    // Errors of their own keep the system's text, never another error's number (EINTR is 4,
    // the number of "Too many open files").
    for (const int err : {EINTR, ENXIO, EOVERFLOW, EPIPE}) {
        const EInOutError e = EInOutError::FromErrno(err, TStep::Read);
        EXPECT_EQ(e.ErrorCode(), EInOutError::OtherSystemError) << "errno " << err;
        EXPECT_EQ(e.what(), "I/O error: " + std::string(std::strerror(err))) << "errno " << err;
    }
}

TEST(ScheduleFileErrors, MissingFileIsNotFound)
{
    TempDir dir;
    EXPECT_EQ(ErrorOfRead(dir.File("none.tem")), 2);
    EXPECT_EQ(ErrorOfRead(""), 2);
}

TEST(ScheduleFileErrors, OnlyRegularFilesAreReadAndNothingBlocks)
{
    TempDir dir;
    const std::string fifo = dir.File("pipe.tem");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // No writer ever opens the FIFO: a blocking open or read would hang this test.
    EXPECT_EQ(ErrorOfRead(fifo), 5);
    EXPECT_EQ(ErrorOfRead(dir.path.string()), 5);
    EXPECT_EQ(ErrorOfRead("/dev/zero"), 5);
    EXPECT_EQ(ErrorOfRead("/dev/null"), 5);
}

TEST(ScheduleFileErrors, HugeLineReadsAsOffInBoundedMemory)
{
    TempDir dir;
    std::string text(std::size_t{8} * 1024 * 1024, '1');
    text += "\n1\n";
    WriteAll(dir.File("long.tem"), text);
    TScheduleFlags flags = ReadScheduleFile(dir.File("long.tem"));
    EXPECT_EQ(flags, OneFlag(1));
}

// Files of gigabytes (sparse: no disk space needed) are read only as far as needed or allowed.
TEST(ScheduleFileErrors, LargeFileIsReadOnlyAsFarAsNeeded)
{
    constexpr long long Size = 4LL * 1024 * 1024 * 1024;
    constexpr long long Limit = 64LL * 1024 * 1024;
    TempDir dir;
    const std::string valid = dir.File("big.tem");
    WriteAll(valid, ScheduleText(OneFlag(1727)));
    ASSERT_EQ(::truncate(valid.c_str(), Size), 0);
    long long before = BytesRead();
    EXPECT_EQ(ReadScheduleFile(valid), OneFlag(1727));
    EXPECT_LT(BytesRead() - before, 1024 * 1024);

    // Without line ends the reading stops, with an error, soon after the limit.
    const std::string endless = dir.File("endless.tem");
    WriteAll(endless, "1");
    ASSERT_EQ(::truncate(endless.c_str(), Size), 0);
    before = BytesRead();
    EXPECT_EQ(ErrorOfRead(endless), 106);
    const long long read = BytesRead() - before;
    EXPECT_GE(read, Limit);
    EXPECT_LT(read, Limit + 1024LL * 1024);
}

// A save that fails part-way at the file size limit, reported as an error or killed by the
// limit's signal, leaves the old file as it was and nothing beside it; where the file system has
// no unnamed files, only a kill can leave the hidden temporary file behind.
TEST(ScheduleFileErrors, FailedOrKilledSaveKeepsThePreviousFileAlone)
{
    for (const bool unnamed : {true, false})
        for (const bool killed : {false, true}) {
            std::optional<TScopedNoUnnamedFiles> named;
            if (!unnamed)
                named.emplace();
            TempDir dir;
            const std::string path = dir.File("keep.tem");
            WriteScheduleFile(path, OneFlag(344));
            const std::string before = ReadAll(path);

            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                std::signal(SIGXFSZ, killed ? SIG_DFL : SIG_IGN);
                rlimit limit{1000, 1000};
                ::setrlimit(RLIMIT_FSIZE, &limit);
                TScheduleFlags next{};
                next.fill(1);
                try {
                    WriteScheduleFile(path, next);
                } catch (const EInOutError& e) {
                    ::_exit(e.ErrorCode() == 101 ? 42 : 1);
                }
                ::_exit(0);
            }
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            const std::string where =
                std::string(unnamed ? "unnamed" : "named") + (killed ? ", killed" : ", failed");
            if (killed) {
                EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << where;
            } else {
                ASSERT_TRUE(WIFEXITED(status));
                EXPECT_EQ(WEXITSTATUS(status), 42)
                    << where << ": the save must fail, \"Disk full\"";
            }
            EXPECT_EQ(ReadAll(path), before) << where;
            std::vector<std::string> names = Names(dir.path);
            if (!unnamed && killed && names.size() == 2 && names[0].rfind(".prvardo-", 0) == 0)
                names.erase(names.begin());
            EXPECT_EQ(names, std::vector<std::string>{"keep.tem"}) << where;
        }
}

// Without unnamed files the hidden temporary file replaces the target and is gone after it,
// for a new file as for one replaced with its permissions kept.
TEST(ScheduleFileSave, WithoutUnnamedFilesNothingIsLeftBeside)
{
    const TScopedNoUnnamedFiles named;
    TempDir dir;
    const std::string path = dir.File("plain.tem");
    WriteScheduleFile(path, OneFlag(7));
    EXPECT_EQ(ReadScheduleFile(path), OneFlag(7));
    ::chmod(path.c_str(), 0604);
    WriteScheduleFile(path, OneFlag(1727));
    EXPECT_EQ(ReadScheduleFile(path), OneFlag(1727));
    struct stat st
    {
    };
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0604u);
    EXPECT_EQ(Names(dir.path), std::vector<std::string>{"plain.tem"});
}

TEST(ScheduleFileSave, NamesUpTo255BytesAndNoLonger)
{
    TempDir dir;
    for (size_t length = 249; length <= 256; ++length) {
        const std::string name = std::string(length - 4, 'n') + ".tem";
        const std::string path = dir.File(name.c_str());
        try {
            WriteScheduleFile(path, OneFlag(int(length)));
            EXPECT_LE(length, 255u);
            EXPECT_EQ(ReadScheduleFile(path), OneFlag(int(length))) << "length " << length;
            EXPECT_EQ(Names(dir.path), std::vector<std::string>{name}) << "length " << length;
            fs::remove(path);
        } catch (const EInOutError& e) {
            EXPECT_EQ(length, 256u) << e.what();
            EXPECT_EQ(e.ErrorCode(), 3);
        }
    }
}

TEST(ScheduleFileSave, DanglingLinkCreatesItsTarget)
{
    TempDir dir;
    fs::create_symlink("made.tem", dir.path / "link.tem");
    WriteScheduleFile(dir.File("link.tem"), OneFlag(7));
    EXPECT_TRUE(fs::is_symlink(dir.path / "link.tem"));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir.path / "made.tem")));
    EXPECT_EQ(ReadScheduleFile(dir.File("made.tem")), OneFlag(7));
}

TEST(ScheduleFileSave, LinkLoopIsAnErrorAndStays)
{
    TempDir dir;
    fs::create_symlink("b.tem", dir.path / "a.tem");
    fs::create_symlink("a.tem", dir.path / "b.tem");
    try {
        WriteScheduleFile(dir.File("a.tem"), OneFlag(7));
        FAIL() << "saved through a link loop";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.SystemError(), ELOOP);
        EXPECT_EQ(e.ErrorCode(), 3);
    }
    EXPECT_EQ(fs::read_symlink(dir.path / "a.tem"), "b.tem");
    EXPECT_EQ(fs::read_symlink(dir.path / "b.tem"), "a.tem");
    EXPECT_EQ(Names(dir.path), (std::vector<std::string>{"a.tem", "b.tem"}));
}

// A file we may write in a folder that takes no new file from us is written in place. The
// saving child runs without root rights (as "nobody" when the tests run as root), and first
// makes sure that the folder really refuses it a new file.
TEST(ScheduleFileSave, WritableFileInAFolderThatRefusesNewFiles)
{
    const bool root = ::geteuid() == 0;
    struct Case
    {
        const char* what;
        mode_t folderMode;
        bool fileOfNobody;
    };
    const Case cases[] = {
        {"folder we may not write", 0555, true},
        {"someone else's file in a sticky folder", 01777, false},
    };
    for (const Case& c : cases) {
        if (!root && !c.fileOfNobody) {
            ADD_FAILURE() << c.what << ": needs root rights to give the file another owner";
            continue;
        }
        TempDir dir;
        const std::string path = dir.File("plan.tem");
        WriteScheduleFile(path, OneFlag(3));
        ASSERT_EQ(::chmod(path.c_str(), c.fileOfNobody ? 0644 : 0666), 0);
        if (root && c.fileOfNobody) {
            ASSERT_EQ(::chown(path.c_str(), Nobody, Nobody), 0);
        }
        ASSERT_EQ(::chmod(dir.path.c_str(), c.folderMode), 0);

        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (root && (::setgroups(0, nullptr) != 0 || ::setresgid(Nobody, Nobody, Nobody) != 0 ||
                         ::setresuid(Nobody, Nobody, Nobody) != 0))
                ::_exit(90);
            if (c.folderMode == 0555 && ::access(dir.path.c_str(), W_OK) == 0)
                ::_exit(91);
            try {
                WriteScheduleFile(path, OneFlag(9));
            } catch (const EInOutError& e) {
                ::_exit(e.ErrorCode() > 0 ? e.ErrorCode() : 92);
            }
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ::chmod(dir.path.c_str(), 0700);
        ASSERT_TRUE(WIFEXITED(status)) << c.what;
        EXPECT_EQ(WEXITSTATUS(status), 0) << c.what << " (90: no user change, 91: folder writable)";
        EXPECT_EQ(ReadScheduleFile(path), OneFlag(9)) << c.what;
        EXPECT_EQ(Names(dir.path), std::vector<std::string>{"plan.tem"}) << c.what;
    }
}

TEST(ScheduleFileErrors, SaveIntoAMissingFolderOrOverAFolderFails)
{
    TempDir dir;
    try {
        WriteScheduleFile(dir.File("no/such.tem"), TScheduleFlags{});
        FAIL() << "saved into a missing folder";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode(), 3);
    }
    fs::create_directory(dir.path / "folder.tem");
    try {
        WriteScheduleFile(dir.File("folder.tem"), TScheduleFlags{});
        FAIL() << "saved over a folder";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode(), 5);
    }
    EXPECT_TRUE(fs::is_directory(dir.path / "folder.tem"));
}

TEST(ScheduleFileErrors, SaveThroughALinkKeepsTheLinkAndPermissions)
{
    TempDir dir;
    const std::string target = dir.File("real.tem");
    WriteScheduleFile(target, TScheduleFlags{});
    ::chmod(target.c_str(), 0640);
    fs::create_symlink(target, dir.path / "link.tem");
    WriteScheduleFile(dir.File("link.tem"), OneFlag(5));
    EXPECT_TRUE(fs::is_symlink(dir.path / "link.tem"));
    EXPECT_EQ(ReadScheduleFile(target), OneFlag(5));
    struct stat st
    {
    };
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}
