// The program's command line, as a user runs it: --help and --version answer and end; a bad
// option or target gets one line on standard error that names it, status 2, and no window.

#include "tests/support/CoreSupport.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(CommandLine, HelpVersionAndBadUsage)
{
    const struct
    {
        QStringList Arguments;
        int Status;
        const char* Out; // a piece of standard output
        const char* Err; // standard error, whole
    } rows[] = {
        {{"--help"}, 0, "mqtts://", ""},
        {{"--version"}, 0, "PrVardo 0.1", ""},
        // The texts of each refusal are the command line's own (tst_OutputOptions); here: that
        // they end the program before a window could open, on standard error, with status 2.
        {{"--salidas"}, 2, "", "PrVardo: opción desconocida: --salidas\n"},
        {{"--output", "serial:/dev/ttyUSB0:lento"},
         2,
         "",
         "PrVardo: salida no válida \"serial:/dev/ttyUSB0:lento\": «lento» no es una velocidad "
         "de puerto serie (9600, 115200...)\n"},
    };
    QTemporaryDir home; // no settings file of the machine's user gets in the way
    for (const auto& row : rows) {
        const std::string what = row.Arguments.join(u' ').toStdString();
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
        environment.remove(QStringLiteral("DISPLAY")); // a window could not even open
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(PRVARDO_PROGRAM), row.Arguments);
        ASSERT_TRUE(program.waitForFinished(10000)) << what;
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << what;
        EXPECT_EQ(program.exitCode(), row.Status) << what;
        EXPECT_TRUE(program.readAllStandardOutput().contains(row.Out)) << what;
        EXPECT_EQ(QString::fromUtf8(program.readAllStandardError()).toStdString(), row.Err) << what;
    }
}
