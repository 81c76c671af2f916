// PrVardo: the 24-hour switch timer for the six-output power strip.

#include "app/UnitVardo.h"
#include "platform/Application.h"
#include "sound/drivers/PulseAudio.h"

int main(int argc, char** argv)
{
    TApplication application(argc, argv);
    // Sound goes through the desktop's sound server; it is reached when first needed.
    TScopedWaveDriver sound(std::make_unique<TPulseAudioDriver>());
    TFormVardo FormVardo;
    // The two information dialogs, hidden until the window shows them; the window owns them.
    FormVardo.AboutBox = new TAboutBox(&FormVardo);
    FormVardo.AboutBox1 = new TAboutBox1(&FormVardo);
    FormVardo.show();
    return application.exec();
}
