// The command line and the settings file: which targets they give, and what they refuse.

#include "outputs/OutputOptions.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

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
    QString error;
    std::vector<TTargetSpec> specs;
    if (!ParseCommandLine(row.Arguments, false, line, error) ||
        !OutputTargets(line, path, specs, error))
        return "!" + error.toStdString();
    QStringList targets;
    for (const TTargetSpec& spec : specs)
        targets << spec.Name + (spec.Password.isEmpty() ? QString() : u'/' + spec.Password);
    return targets.join(u' ').toStdString() + (line.Help ? " help" : "") +
           (line.Version ? " version" : "");
}

} // namespace

TEST(OutputOptions, TargetsComeFromTheCommandLineOrElseTheSettingsFile)
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
