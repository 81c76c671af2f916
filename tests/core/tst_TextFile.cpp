// The small files beside a schedule are read whole or not at all: never waiting on a FIFO, never
// reading a device, never more than a byte beyond their bound.

#include "core/TextFile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t Limit = 1000;

class Folder
{
public:
    Folder()
    {
        char name[] = "/tmp/prvardo-textfile.XXXXXX";
        Path = ::mkdtemp(name);
    }
    ~Folder() { std::filesystem::remove_all(Path); }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    std::string Write(const std::string& name, const std::string& text) const
    {
        std::string path = Path + "/" + name;
        FILE* file = std::fopen(path.c_str(), "wb");
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
        return path;
    }

    std::string Path;
};

} // namespace

TEST(TextFile, ReadWholeOrRefusedWithoutWaiting)
{
    const Folder folder;
    const std::string at = folder.Path + "/";
    const struct
    {
        const char* Name;
        std::function<std::string()> Make; // the path to read
        TReadResult Result;
        std::size_t Size; // of the text read
    } rows[] = {
        {"a short file", [&] { return folder.Write("a", "[timer]\nschedule = aula.tem\n"); },
         TReadResult::Read, 28},
        {"an empty file", [&] { return folder.Write("b", ""); }, TReadResult::Read, 0},
        {"just the bound", [&] { return folder.Write("c", std::string(Limit, 'x')); },
         TReadResult::Read, Limit},
        {"a byte more", [&] { return folder.Write("d", std::string(Limit + 1, 'x')); },
         TReadResult::TooLong, 0},
        {"a huge sparse file",
         [&] {
             std::string path = folder.Write("e", "");
             EXPECT_EQ(::truncate(path.c_str(), off_t{1} << 40), 0);
             return path;
         },
         TReadResult::TooLong, 0},
        {"missing", [&] { return at + "none"; }, TReadResult::Missing, 0},
        {"a link to nothing",
         [&] {
             EXPECT_EQ(::symlink((at + "none").c_str(), (at + "f").c_str()), 0);
             return at + "f";
         },
         TReadResult::Missing, 0},
        {"a folder", [&] { return folder.Path; }, TReadResult::NotRegular, 0},
        // Nobody ever opens it for writing: a blocking open would hang here.
        {"a FIFO",
         [&] {
             EXPECT_EQ(::mkfifo((at + "g").c_str(), 0600), 0);
             return at + "g";
         },
         TReadResult::NotRegular, 0},
        {"a link to /dev/zero",
         [&] {
             EXPECT_EQ(::symlink("/dev/zero", (at + "h").c_str()), 0);
             return at + "h";
         },
         TReadResult::NotRegular, 0},
        {"a loop of links",
         [&] {
             EXPECT_EQ(::symlink((at + "i").c_str(), (at + "i").c_str()), 0);
             return at + "i";
         },
         TReadResult::Failed, 0},
    };
    for (const auto& row : rows) {
        const std::string path = row.Make();
        const TFileText read = ReadTextFile(path, Limit);
        EXPECT_EQ(read.Result, row.Result) << row.Name;
        if (row.Result == TReadResult::Read) {
            EXPECT_EQ(read.Text.size(), row.Size) << row.Name;
            EXPECT_TRUE(S_ISREG(read.Status.st_mode)) << row.Name;
        } else {
            EXPECT_TRUE(read.Text.empty()) << row.Name;
            EXPECT_NE(ReadFailure(read, path, Limit).find(path), std::string::npos) << row.Name;
        }
    }
}

TEST(TextFile, AFileOfTheSystemIsReadPastItsSizeOfNothing)
{
    const TFileText read = ReadTextFile("/proc/self/status", Limit * 64);
    ASSERT_EQ(read.Result, TReadResult::Read);
    EXPECT_NE(read.Text.find("Name:"), std::string::npos);
}
