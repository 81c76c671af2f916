// The command line and the settings file: which targets they give, and what they refuse.

#include "frontend/CommandLine.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Row
{
    const char* What;
    QStringList Arguments;
    const char* Settings; // the file's text; nullptr: no file
    QFile::Permissions Mode;
    const char* Expect; // the targets as "name[/password] ..." or the error's start ("!...")
};

constexpr QFile::Permissions Private = QFile::ReadOwner | QFile::WriteOwner;
constexpr QFile::Permissions Shared = Private | QFile::ReadGroup | QFile::ReadOther;

std::string Resolve(const Row& row, const QString& dir)
{
    const QString path = dir + QStringLiteral("/PrVardo.conf");
    QFile::remove(path);
    if (row.Settings != nullptr) {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(row.Settings);
        file.close();
        file.setPermissions(row.Mode);
    }
    TCommandLine line;
    TSettings settings;
    QString error;
    std::vector<TTargetSpec> specs;
    if (!ParseCommandLine(row.Arguments, TProgramForm{QStringLiteral("PrVardo"), {}, false}, line,
                          error) ||
        !ReadSettings(path, settings, error) || !OutputTargets(line, settings, specs, error))
        return "!" + error.replace(path, QStringLiteral("ARCHIVO")).toStdString();
    QStringList targets;
    for (const TTargetSpec& spec : specs) {
        const auto* mqtt = std::get_if<TMqttAddress>(&spec.Address);
        targets << spec.Name +
                       (mqtt == nullptr || mqtt->Password.isEmpty() ? QString()
                                                                    : u'/' + mqtt->Password) +
                       (mqtt == nullptr || mqtt->PulseTime == 0
                            ? QString()
                            : QStringLiteral("+%1s").arg(mqtt->PulseTime));
        if (const auto* port = std::get_if<TParportAddress>(&spec.Address);
            port != nullptr && port->HeartbeatBit >= 0)
            targets.last() += QStringLiteral("~D%1").arg(port->HeartbeatBit);
        if (const auto* gpio = std::get_if<TGpioAddress>(&spec.Address);
            gpio != nullptr && gpio->HeartbeatLine >= 0)
            targets.last() += QStringLiteral("~%1").arg(gpio->HeartbeatLine);
    }
    return targets.join(u' ').toStdString() + (line.Help ? " help" : "") +
           (line.Version ? " version" : "");
}

} // namespace

TEST(OutputTargets, TargetsComeFromTheCommandLineOrElseTheSettingsFile)
{
    QTemporaryDir dir;
    const char* file = "# aula 2\n[outputs]\noutput = serial:/dev/ttyUSB0\n"
                       "output = mqtt://profe@aula/regleta\npassword = s3creto\n"
                       "[otra]\noutput = parport:/dev/parport0\n";
    const Row rows[] = {
        {"nothing anywhere", {}, nullptr, Private, ""},
        {"the file's targets, the password to the MQTT user",
         {},
         file,
         Private,
         "serial:/dev/ttyUSB0 mqtt://profe@aula/regleta/s3creto"},
        {"the command line wins",
         {"--output", "parport:/dev/parport0", "--output=mqtt://profe@aula/x"},
         file,
         Private,
         "parport:/dev/parport0 mqtt://profe@aula/x/s3creto"},
        {"a password others may read", {}, file, Shared, "!"},
        {"targets without a password may be read by all",
         {},
         "[outputs]\noutput = serial:/dev/ttyS0\n",
         Shared,
         "serial:/dev/ttyS0"},
        {"help and version", {"--help", "--version"}, nullptr, Private, " help version"},
        {"an unknown option", {"--salida", "x"}, nullptr, Private, "!opción desconocida: --salida"},
        {"--output without its value", {"--output"}, nullptr, Private, "!falta la salida"},
        {"an argument the program takes none of",
         {"horario.tem"},
         nullptr,
         Private,
         "!argumento de más: horario.tem"},
        {"a target that does not parse",
         {"--output", "usb:1"},
         nullptr,
         Private,
         "!salida no válida \"usb:1\""},
        {"a bad target in the file",
         {},
         "[outputs]\noutput = serial:\n",
         Private,
         "!salida no válida \"serial:\""},
        {"a pulse time for every plug, none for a board",
         {"--output", "mqtt://aula/a", "--output", "serial:/dev/ttyS0", "--output", "mqtt://b/c"},
         "[outputs]\npulsetime = 30\n",
         Private,
         "mqtt://aula/a+30s serial:/dev/ttyS0 mqtt://b/c+30s"},
        {"the longest pulse time",
         {"--output", "mqtt://aula/a"},
         "[outputs]\npulsetime = 64800\n",
         Private,
         "mqtt://aula/a+64800s"},
        {"a pulse time too long",
         {},
         "[outputs]\npulsetime = 64801\n",
         Private,
         "!ARCHIVO: pulsetime"},
        {"a pulse time that is no number",
         {},
         "[outputs]\npulsetime = 1m\n",
         Private,
         "!ARCHIVO: pulsetime"},
        {"a negative watchdog", {}, "[outputs]\nwatchdog = -1\n", Private, "!ARCHIVO: watchdog"},
        {"a heartbeat on a parallel port's data line, none for a plug",
         {"--output", "parport:/dev/parport0", "--output", "mqtt://b/c"},
         "[outputs]\nheartbeat = D7\n",
         Private,
         "parport:/dev/parport0~D7 mqtt://b/c"},
        {"a heartbeat on a GPIO line beside the six",
         {"--output", "gpio:gpiochip0:17,27,22,23,24,25", "--output", "parport:/dev/parport0"},
         "[outputs]\nheartbeat = 4\n",
         Private,
         "gpio:gpiochip0:17,27,22,23,24,25~4 parport:/dev/parport0"},
        {"a heartbeat on one of the six GPIO lines",
         {"--output", "gpio:gpiochip0:17,27,22,23,24,25"},
         "[outputs]\nheartbeat = 22\n",
         Private,
         "!heartbeat: la línea 22"},
        {"a heartbeat on a line that is no data line",
         {},
         "[outputs]\nheartbeat = D5\n",
         Private,
         "!ARCHIVO: heartbeat"},
    };
    for (const Row& row : rows) {
        const std::string result = Resolve(row, dir.path());
        if (row.Expect[0] == '!')
            EXPECT_EQ(result.rfind(row.Expect, 0), 0u) << row.What << ": " << result;
        else
            EXPECT_EQ(result, row.Expect) << row.What;
    }
    // The refusal says what to do.
    const std::string refused = Resolve(rows[3], dir.path());
    EXPECT_NE(refused.find("chmod 600"), std::string::npos) << refused;
}

// A password is used only from a file that no other user can read or put in its place: judged on
// the file itself and on the folders it stands in (one that others may read: the test above).
TEST(OutputTargets, APasswordFileMustBeTheUsersAloneAndStandInFoldersOnlyTheyWrite)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("PrVardo"));
    const QString path = folder + QStringLiteral("/PrVardo.conf");
    const struct
    {
        const char* What;
        uid_t Owner; // the file's; 0 is root, who may own it too
        mode_t FileMode;
        mode_t FolderMode;
        bool Used;
    } rows[] = {
        // The temporary folder above stands in /tmp, root's and sticky: nobody can take the
        // user's folder away there.
        {"private, in a private folder", ::getuid(), 0600, 0700, true},
        {"another user's", 65534, 0600, 0700, false},
        {"in a folder others may write to", ::getuid(), 0600, 0777, false},
    };
    for (const auto& row : rows) {
        QDir().mkpath(folder);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[outputs]\noutput = mqtt://profe@broker/tira\npassword = secreto\n");
        file.close();
        ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), row.FileMode), 0);
        if (row.Owner != ::getuid()) {
            ASSERT_EQ(::chown(QFile::encodeName(path).constData(), row.Owner, -1), 0)
                << "changing a file's owner needs root, as the test command runs";
        }
        ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), row.FolderMode), 0);
        TSettings settings;
        QString error;
        const bool used = ReadSettings(path, settings, error);
        EXPECT_EQ(used, row.Used) << row.What << ": " << error.toStdString();
        ::chmod(QFile::encodeName(folder).constData(), 0700);
        QFile::remove(path);
    }
}
