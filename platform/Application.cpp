#include "Application.h"

#include "platform/Fonts.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QStyle>
#include <QStyleFactory>
#include <QTranslator>

#include <future>

namespace {

// The fonts' configuration, read while the toolkit starts.
std::future<void> FontConfiguration;

// Settings the window system connection reads when it is made, so made before it connects; a
// variable the environment already has is left as it is.
int& PrepareEnvironment(int& argc)
{
    // Read before anything asks the font library for a font; the toolkit's own start needs none.
    FontConfiguration = std::async(std::launch::async, LoadFontConfiguration);
    // On X11 the window's repaints are small (a clock label, a grid cell, a lamp) and come up to
    // once a frame. Through shared memory each one first waits for the server to be done with
    // the last, a round trip per frame; sent over the connection, they need none. (The toolkit
    // reads only whether the variable is set, whatever its value.)
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
        qputenv("QT_XCB_NO_MITSHM", "1");
    return argc;
}

} // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(PrepareEnvironment(argc), argv)
{
    FontConfiguration.get();
    SetUpApplication();
    InstallExceptionReporter([](QObject*, const QString& message) { ShowErrorBox(message); });
}

TApplication::~TApplication()
{
    InstallExceptionReporter({});
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        HandleException(receiver, e);
    } catch (...) {
        HandleException(receiver, QStringLiteral("Error desconocido"));
    }
    return false;
}

void SetUpApplication()
{
    QApplication::setApplicationName(QStringLiteral("PrVardo"));
    // The program speaks Spanish: so do the host's own dialogs and buttons.
    QLocale::setDefault(QLocale(QLocale::Spanish, QLocale::Spain));
    static QTranslator hostTexts;
    if (hostTexts.isEmpty() &&
        hostTexts.load(QLocale(QLocale::Spanish), QStringLiteral("qtbase"), QStringLiteral("_"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&hostTexts);
    InstallFontSubstitutions();
    QApplication::setFont(DefaultFont());
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(fusion);
    QApplication::setPalette(QApplication::style()->standardPalette());
}

int ExecModal(QDialog& box)
{
    // A widget that holds the mouse grab would take the clicks meant for the box.
    if (QWidget* grabber = QWidget::mouseGrabber())
        grabber->releaseMouse();
    return box.exec();
}

void ShowErrorBox(const QString& message)
{
    QMessageBox box(QMessageBox::Critical, QApplication::applicationName(), message,
                    QMessageBox::Ok, QApplication::activeWindow());
    ExecModal(box);
}

void ShowNotice(const QString& message)
{
    auto* box = new QMessageBox(QMessageBox::Information, QApplication::applicationName(), message,
                                QMessageBox::Ok, QApplication::activeWindow());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}
