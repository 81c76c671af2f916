// Schedule files: the format to the byte, the reading rules, and failures that keep data safe.

#include "core/ScheduleFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
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

TEST(ScheduleFileErrors, LargeFileIsReadOnlyAsFarAsNeeded)
{
    TempDir dir;
    const std::string path = dir.File("big.tem");
    WriteAll(path, ScheduleText(OneFlag(1727)));
    // Grow it to 100 MB without writing the rest (a sparse file).
    ASSERT_EQ(::truncate(path.c_str(), 100LL * 1024 * 1024), 0);
    const long long before = BytesRead();
    EXPECT_EQ(ReadScheduleFile(path), OneFlag(1727));
    EXPECT_LT(BytesRead() - before, 1024 * 1024);
}

// A save that fails part-way (the file size limit is reached) leaves the old file as it was.
TEST(ScheduleFileErrors, FailedSaveKeepsThePreviousFile)
{
    TempDir dir;
    const std::string path = dir.File("keep.tem");
    const TScheduleFlags old = OneFlag(344);
    WriteScheduleFile(path, old);
    const std::string before = ReadAll(path);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
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
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 42) << "the save must fail with \"Disk full\"";
    EXPECT_EQ(ReadAll(path), before);
    // No temporary file is left behind.
    int files = 0;
    for (const auto& entry : fs::directory_iterator(dir.path)) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1);
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
