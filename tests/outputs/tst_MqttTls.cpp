// mqtts:// against a real mosquitto TLS listener with a school's own certificate authority (made
// here with openssl) and a password file: the authority named in the settings file is trusted,
// the right password connects, and each way of failing gets its own cause.

#include "frontend/CommandLine.h"
#include "outputs/Targets.h"
#include "tests/support/CoreSupport.h"
#include "tests/support/MqttBroker.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool Run(const QString& program, const QStringList& arguments, const QString& folder)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(program, arguments);
    const bool done = process.waitForFinished(30000) && process.exitCode() == 0;
    EXPECT_TRUE(done) << program.toStdString() << ' ' << arguments.join(' ').toStdString() << ": "
                      << process.readAllStandardError().toStdString();
    return done;
}

// A TLS listener on localhost whose certificate (for the name "localhost" only) the school's
// authority signs, taking only the user "profe" with the password "secreto".
class TTlsBroker
{
public:
    TTlsBroker()
    {
        const QString dir = FDir.path();
        const QStringList ec{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
        Run("openssl",
            QStringList{"req", "-x509"} + ec +
                QStringList{"-keyout", "ca.key", "-out", "ca.crt", "-days", "2", "-subj",
                            "/CN=Autoridad del centro"},
            dir);
        Run("openssl",
            QStringList{"req"} + ec +
                QStringList{"-keyout", "server.key", "-out", "server.csr", "-subj",
                            "/CN=localhost"},
            dir);
        QFile names(FDir.filePath("names.ext"));
        names.open(QIODevice::WriteOnly);
        names.write("subjectAltName=DNS:localhost\n");
        names.close();
        Run("openssl",
            {"x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key",
             "-CAcreateserial", "-out", "server.crt", "-days", "2", "-extfile", "names.ext"},
            dir);
        Run("mosquitto_passwd", {"-c", "-b", "passwd", "profe", "secreto"}, dir);
        Port = FreePort();
        QFile config(FDir.filePath("mosquitto.conf"));
        config.open(QIODevice::WriteOnly);
        config.write(QString("listener %1 127.0.0.1\n"
                             "cafile %2/ca.crt\ncertfile %2/server.crt\nkeyfile %2/server.key\n"
                             "allow_anonymous false\npassword_file %2/passwd\n"
                             "persistence false\nuser %3\nlog_dest file %2/broker.log\n")
                         .arg(Port)
                         .arg(dir, qEnvironmentVariable("USER", "root"))
                         .toUtf8());
        config.close();
        FBroker.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        FBroker.start("mosquitto", {"-c", FDir.filePath("mosquitto.conf")});
        EXPECT_TRUE(WaitFor([this] {
            const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            address.sin_port = htons(static_cast<std::uint16_t>(Port));
            const bool up =
                ::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
            ::close(probe);
            return up;
        })) << "the TLS broker did not come up";
    }
    ~TTlsBroker()
    {
        FBroker.terminate();
        FBroker.waitForFinished();
    }
    TTlsBroker(const TTlsBroker&) = delete;
    TTlsBroker& operator=(const TTlsBroker&) = delete;

    QString Authority() const { return FDir.filePath("ca.crt"); }
    int Port = 0;

private:
    QTemporaryDir FDir;
    QProcess FBroker;
};

} // namespace

TEST(MqttTls, TheSchoolsAuthorityIsTrustedAndEachFailureHasItsCause)
{
    ASSERT_FALSE(SharedBroker().empty()) << "PRVARDO_MQTT_BROKER is not set: this test needs the "
                                            "private broker that scripts/test starts";
    TTlsBroker broker;
    QTemporaryDir home;
    const QString port = QString::number(broker.Port);
    const QString notCertificate = home.filePath("nota.txt");
    QFile note(notCertificate);
    ASSERT_TRUE(note.open(QIODevice::WriteOnly));
    note.write("la autoridad del centro\n");
    note.close();
    const struct
    {
        const char* What;
        QString Target;
        QString Password;
        QString Authority; // the cafile; empty: the system's
        const char* Cause; // a key word of the message; nullptr: connects
    } rows[] = {
        {"the right password", "mqtts://profe@localhost:" + port + "/tira", "secreto",
         broker.Authority(), nullptr},
        {"a wrong password", "mqtts://profe@localhost:" + port + "/tira", "otra",
         broker.Authority(), "contraseña"},
        {"no user", "mqtts://localhost:" + port + "/tira", "", broker.Authority(), "contraseña"},
        {"the system's authorities only", "mqtts://profe@localhost:" + port + "/tira", "secreto",
         "", "ninguna autoridad"},
        {"an authority file that holds no certificate", "mqtts://profe@localhost:" + port + "/tira",
         "secreto", notCertificate, "ningún certificado"},
        {"a certificate for another name", "mqtts://profe@127.0.0.1:" + port + "/tira", "secreto",
         broker.Authority(), "otro nombre"},
        {"a server without TLS", "mqtts://" + QString::fromStdString(SharedBroker()) + "/tira", "",
         broker.Authority(), "no habla TLS"},
    };
    for (const auto& row : rows) {
        // The target as the settings file gives it, with the password and the authority.
        const QString settings = home.filePath("PrVardo.conf");
        QFile file(settings);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(
            QString("[outputs]\noutput = %1\n%2%3")
                .arg(row.Target,
                     row.Password.isEmpty() ? QString() : "password = " + row.Password + '\n',
                     row.Authority.isEmpty() ? QString() : "cafile = " + row.Authority + '\n')
                .toUtf8());
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        TCommandLine line;
        QString error;
        std::vector<TTargetSpec> specs;
        TSettings read;
        ASSERT_TRUE(ReadSettings(settings, read, error) && OutputTargets(line, read, specs, error))
            << error.toStdString();
        const auto target = MakeTarget(specs.at(0));
        const bool opened = target->Open();
        EXPECT_EQ(opened, row.Cause == nullptr)
            << row.What << ": " << target->Error().toStdString();
        if (row.Cause != nullptr) {
            EXPECT_TRUE(target->Error().contains(QString::fromUtf8(row.Cause)))
                << row.What << ": " << target->Error().toStdString();
        }
        target->Close();
    }
}
