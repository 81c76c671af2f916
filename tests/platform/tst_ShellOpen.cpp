// The shell's "open": web addresses to the desktop's handler, programs by name from PATH, started
// directly and left running; the result rule (above 32 is success); the scoped shell of tests.

#include "platform/ShellOpen.h"
#include "tests/support/TestSupport.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace {

// Stands in for the desktop's handler of web addresses.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    std::vector<QUrl> Opened;
public Q_SLOTS:
    void Open(const QUrl& url) { Opened.push_back(url); }
};

// A scoped handler for "http" and "https" addresses, so no browser starts.
struct CaughtWebAddresses
{
    UrlCatcher catcher;
    CaughtWebAddresses()
    {
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher, "Open");
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "Open");
    }
    ~CaughtWebAddresses()
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    }
    CaughtWebAddresses(const CaughtWebAddresses&) = delete;
    CaughtWebAddresses& operator=(const CaughtWebAddresses&) = delete;
};

// A PATH of one folder of our own for the length of a test.
struct ShellOpenTest : ::testing::Test
{
    QTemporaryDir bin;
    QByteArray savedPath = qgetenv("PATH");

    void SetUp() override
    {
        ASSERT_TRUE(bin.isValid());
        qputenv("PATH", QFile::encodeName(bin.path()));
    }
    void TearDown() override { qputenv("PATH", savedPath); }

    QString InBin(const char* name) const { return bin.filePath(QLatin1String(name)); }

    // A browser stand-in: writes its arguments, one a line, to args.txt and then "ready", then
    // waits (ten seconds at most) for a line on the fifo "go" before it writes "done".
    void MakeBrowser(const char* name) const
    {
        QFile script(InBin(name));
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/bash\n"
                     "d=\"${0%/*}\"\n" // builtins only: PATH holds nothing else
                     "printf '%s\\n' \"$@\" > \"$d/args.txt\"\n"
                     ": > \"$d/ready\"\n"
                     "exec 3<>\"$d/go\"\n"
                     "read -r -t 10 line <&3\n"
                     ": > \"$d/done\"\n");
        script.close();
        ASSERT_TRUE(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        ASSERT_EQ(::mkfifo(QFile::encodeName(InBin("go")).constData(), 0600), 0);
    }

    // Lets the stand-in finish, once it listens on the fifo.
    bool ReleaseBrowser() const
    {
        const QByteArray fifo = QFile::encodeName(InBin("go"));
        return WaitFor([&] {
            const int fd = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK);
            if (fd < 0)
                return false;
            const bool written = ::write(fd, "go\n", 3) == 3;
            ::close(fd);
            return written;
        });
    }
};

} // namespace

TEST_F(ShellOpenTest, AProgramOnThePathRunsWithoutAShellAndIsNotWaitedFor)
{
    MakeBrowser("netscape.exe");
    // Shell syntax in the address stays text: no shell reads it.
    const QString address =
        QStringLiteral("http://WWW.EXAMPLE.COM/?a=1&b=$(:>gotcha);x|`:>gotcha`");
    const int result = ShellExecute(nullptr, QStringLiteral("open"), QStringLiteral("netscape.exe"),
                                    address, bin.path(), SW_SHOWNORMAL);
    EXPECT_GT(result, 32);

    ASSERT_TRUE(WaitFor([&] { return QFile::exists(InBin("ready")); }));
    // Still waiting for us: the open came back while the program ran on.
    EXPECT_FALSE(QFile::exists(InBin("done")));
    QFile args(InBin("args.txt"));
    ASSERT_TRUE(args.open(QIODevice::ReadOnly));
    EXPECT_EQ(args.readAll().toStdString(), (address + u'\n').toStdString());
    EXPECT_FALSE(QFile::exists(InBin("gotcha")));

    ASSERT_TRUE(ReleaseBrowser());
    EXPECT_TRUE(WaitFor([&] { return QFile::exists(InBin("done")); }));
}

TEST_F(ShellOpenTest, FailuresGiveACodeOf32OrLess)
{
    QFile text(InBin("notes.txt"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.close();
    QDir(bin.path()).mkdir(QStringLiteral("folder"));

    struct Row
    {
        const char* what;
        QString operation;
        QString file;
        QString parameters;
        int expected;
    };
    const QString address = QStringLiteral("http://WWW.EXAMPLE.COM");
    const Row rows[] = {
        {"program not on the path", "open", "iexplore.exe", address, SE_ERR_FNF},
        {"no such path", "open", InBin("nowhere/netscape.exe"), address, SE_ERR_FNF},
        {"nothing named", "open", "", "", SE_ERR_FNF},
        {"a folder is no program", "open", InBin("folder"), address, SE_ERR_ACCESSDENIED},
        {"a document takes no parameters", "open", InBin("notes.txt"), address, SE_ERR_NOASSOC},
        {"an operation the shell has not", "print", address, "", SE_ERR_NOASSOC},
    };
    for (const Row& row : rows) {
        const int result =
            ShellExecute(nullptr, row.operation, row.file, row.parameters, {}, SW_SHOWNORMAL);
        EXPECT_EQ(result, row.expected) << row.what;
        EXPECT_LE(result, ShellOpenLastFailure) << row.what;
    }
}

TEST_F(ShellOpenTest, WebAddressesGoToTheDesktopsHandler)
{
    CaughtWebAddresses web;
    struct Row
    {
        QString file;
        QString expected;
    };
    const Row rows[] = {
        {"http://WWW.EXAMPLE.COM", "http://www.example.com"},
        {"https://www.example.com/a?b=1", "https://www.example.com/a?b=1"},
        {"WWW.EXAMPLE.COM", "http://www.example.com"},
    };
    for (const Row& row : rows) {
        web.catcher.Opened.clear();
        EXPECT_GT(ShellExecute(nullptr, QStringLiteral("open"), row.file, {}, {}, SW_SHOWNORMAL),
                  32)
            << row.file.toStdString();
        ASSERT_EQ(web.catcher.Opened.size(), 1U) << row.file.toStdString();
        EXPECT_EQ(web.catcher.Opened[0].toString(), row.expected) << row.file.toStdString();
    }
}

TEST_F(ShellOpenTest, AScopedShellAnswersInsteadAndThenGivesWayAgain)
{
    CaughtWebAddresses web;
    std::vector<TShellRequest> asked;
    {
        TScopedShell shell([&](const TShellRequest& request) {
            asked.push_back(request);
            return SE_ERR_NOASSOC;
        });
        EXPECT_EQ(ShellExecute(nullptr, QStringLiteral("open"), QStringLiteral("netscape.exe"),
                               QStringLiteral("x"), QStringLiteral("/tmp"), SW_SHOWNORMAL),
                  SE_ERR_NOASSOC);
    }
    const TShellRequest expected{nullptr, "open", "netscape.exe", "x", "/tmp", SW_SHOWNORMAL};
    ASSERT_EQ(asked.size(), 1U);
    EXPECT_EQ(asked[0], expected);
    EXPECT_TRUE(web.catcher.Opened.empty());

    EXPECT_GT(ShellExecute(nullptr, QStringLiteral("open"),
                           QStringLiteral("http://WWW.EXAMPLE.COM"), {}, {}, SW_SHOWNORMAL),
              32);
    EXPECT_EQ(web.catcher.Opened.size(), 1U);
    EXPECT_EQ(asked.size(), 1U);
}

#include "tst_ShellOpen.moc"
