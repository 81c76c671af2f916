// Saves a picture of the main window as it looks right after start: screenshot <file.png>
// [page]. Runs offscreen; used for the README.

#include "Application.h"
#include "UnitVardo.h"

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
    TFormVardo form;
    form.show();
    (void)QTest::qWaitForWindowExposed(&form);
    if (args.size() > 2)
        form.PageControl1->setCurrentIndex(args[2].toInt());
    QApplication::processEvents();
    return form.grab().save(args[1]) ? 0 : 1;
}
