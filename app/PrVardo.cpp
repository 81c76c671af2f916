// PrVardo: the 24-hour switch timer for the six-output power strip.

#include "app/UnitVardo.h"
#include "outputs/OutputOptions.h"
#include "outputs/Outputs.h"
#include "platform/Application.h"
#include "sound/drivers/PulseAudio.h"

#include <QMetaObject>

#include <csignal>
#include <cstdio>

namespace {

void Print(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
}

} // namespace

int main(int argc, char** argv)
{
    // The command line is read before any window exists: a bad one opens none.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    TCommandLine line;
    QString error;
    std::vector<TTargetSpec> specs;
    if (!ParseCommandLine(arguments, false, line, error) ||
        (!line.Help && !line.Version && !OutputTargets(line, OutputSettingsPath(), specs, error))) {
        Print(stderr, QStringLiteral("PrVardo: %1\n").arg(error));
        return 2;
    }
    if (line.Help) {
        Print(stdout, OutputsUsage(QStringLiteral("PrVardo")));
        return 0;
    }
    if (line.Version) {
        Print(stdout, QStringLiteral("PrVardo %1\n").arg(QStringLiteral(PRVARDO_VERSION)));
        return 0;
    }

    // A connection to a broker or a device that went away must fail its write, not end the
    // program.
    std::signal(SIGPIPE, SIG_IGN);
    TApplication application(argc, argv);
    // Sound goes through the desktop's sound server; it is reached when first needed.
    TScopedWaveDriver sound(std::make_unique<TPulseAudioDriver>());
    std::vector<std::unique_ptr<TOutputTarget>> targets;
    targets.reserve(specs.size());
    for (const TTargetSpec& spec : specs)
        targets.push_back(MakeTarget(spec));
    TOutputs outputs(std::move(targets));
    QObject::connect(&outputs, &TOutputs::Trouble, &outputs,
                     [](const QString& message) { ShowErrorBox(message); });
    // Mains outputs never stay on with nobody watching: all off when the program ends, however
    // the window was closed.
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &outputs,
                     [&outputs] { outputs.Stop(); });
    TFormVardo FormVardo;
    if (!outputs.Empty())
        FormVardo.Outputs = &outputs;
    // The two information dialogs, hidden until the window shows them; the window owns them.
    FormVardo.AboutBox = new TAboutBox(&FormVardo);
    FormVardo.AboutBox1 = new TAboutBox1(&FormVardo);
    outputs.Start();
    FormVardo.show();
    return application.exec();
}
