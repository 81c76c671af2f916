// PrVardo: the 24-hour switch timer for the six-output power strip.

#include "app/UnitVardo.h"
#include "outputs/OutputOptions.h"
#include "outputs/Outputs.h"
#include "platform/Application.h"
#include "sound/drivers/PulseAudio.h"

#include <csignal>

int main(int argc, char** argv)
{
    // The command line is read before any window exists: a bad one opens none.
    TCommandLine line;
    std::vector<TTargetSpec> specs;
    if (const auto status = ReadCommandLine(QStringLiteral("PrVardo"), argc, argv, {}, line, specs))
        return *status;

    // A connection to a broker or a device that went away must fail its write, not end the
    // program.
    std::signal(SIGPIPE, SIG_IGN);
    TApplication application(argc, argv);
    // Sound goes through the desktop's sound server; it is reached when first needed.
    TScopedWaveDriver sound(std::make_unique<TPulseAudioDriver>());
    TOutputs outputs(MakeTargets(specs));
    QObject::connect(&outputs, &TOutputs::Trouble, &outputs,
                     [](const QString& message) { ShowErrorBox(message); });
    // Mains outputs never stay on with nobody watching: all off when the program ends, however
    // the window was closed.
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &outputs,
                     [&outputs] { outputs.Stop(); });
    const std::unique_ptr<TFormVardo> FormVardo = MakeMainWindow();
    if (!outputs.Empty())
        FormVardo->Outputs = &outputs;
    outputs.Start();
    FormVardo->show();
    return application.exec();
}
