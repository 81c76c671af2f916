// Saves a picture of the main window: screenshot <file.png> [page]. The window starts at 14:37
// with a few slots marked and one clock tick run, so the pointer and lamps show; on the
// microphone page (6) a few levels of a spoken word are shown instead of the tick. Offscreen.

#include "app/UnitVardo.h"
#include "core/Clock.h"
#include "platform/Application.h"

#include <QApplication>
#include <QTest>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication application(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() < 2) {
        qWarning("usage: screenshot <file.png> [page]");
        return 2;
    }
    const TScopedLocalTimeOfDay time([] { return TTimeOfDay{14, 37}; });
    TFormVardo form;
    // Lights in the evening on D0, a pump every other hour on D2, D3 through the afternoon.
    for (int h = 18; h < 23; ++h)
        for (int s = 0; s < 12; ++s)
            form.Schedule.Set(0, s, h, true);
    for (int h = 0; h < 24; h += 2)
        for (int s = 0; s < 3; ++s)
            form.Schedule.Set(2, s, h, true);
    for (int h = 13; h < 17; ++h)
        for (int s = 4; s < 10; ++s)
            form.Schedule.Set(3, s, h, true);
    form.Schedule.Set(0, 7, 14, true);
    form.show();
    (void)QTest::qWaitForWindowExposed(&form);
    const int page = args.size() > 2 ? args[2].toInt() : 0;
    form.PageControl1->setCurrentIndex(page);
    QApplication::processEvents();
    if (page == form.PageControl1->indexOf(form.VUMETRO)) {
        for (int level :
             {2, 3, 9, 24, 47, 68, 83, 71, 56, 62, 44, 35, 27, 18, 12, 7, 4, 3, 14, 33, 52, 45, 38})
            form.AudioRedirector1AudioInLevel(form.AudioRedirector1->AudioIn(), level);
    } else {
        form.TemporizTimer(form.Temporiz);
    }
    QApplication::processEvents();
    return form.grab().save(args[1]) ? 0 : 1;
}
