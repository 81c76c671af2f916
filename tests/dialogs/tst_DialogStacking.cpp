// The about box under a real window manager (scripts/x11-session runs this program on a virtual X
// server of its own with openbox): shown without blocking, it does not hide the main window for
// good. Raised, as a click on it raises it, the main window comes in front of the about box;
// shown again, the about box comes in front of the main window.

#include "dialogs/AboutVardo.h"
#include "tests/support/TestSupport.h"

#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <QWindow>
#include <gtest/gtest.h>

namespace {

// What the screen shows at a point, as the X server has composed its windows.
QRgb ScreenPixel(QPoint global)
{
    const QImage shot =
        QGuiApplication::primaryScreen()->grabWindow(0, global.x(), global.y(), 1, 1).toImage();
    return shot.pixel(0, 0) | 0xFF000000;
}

} // namespace

TEST(DialogStacking, TheMainWindowComesInFrontOfTheAboutBoxAndBack)
{
    ASSERT_EQ(QGuiApplication::platformName(), QLatin1String("xcb"))
        << "runs on an X server with a window manager: scripts/x11-session";
    QWidget mainWindow;
    QPalette colours = mainWindow.palette();
    colours.setColor(QPalette::Window, QColor(200, 30, 30));
    mainWindow.setPalette(colours);
    mainWindow.setAutoFillBackground(true);
    // About as large as the about box and at the centre of the screen, as the about box is.
    QRect place(QPoint(), QSize(664, 575));
    place.moveCenter(QGuiApplication::primaryScreen()->availableGeometry().center());
    mainWindow.setGeometry(place);
    auto* about = new TAboutBox(&mainWindow);
    ShowAndWait(&mainWindow);
    about->ShowDialog();
    ASSERT_TRUE(WaitFor([&] { return about->isActiveWindow(); }));

    // A spot of the about box's panel, over the main window.
    const QPoint local(340, 220);
    const QPoint spot = about->mapToGlobal(local);
    ASSERT_TRUE(mainWindow.geometry().contains(spot));
    const QRgb aboutShows = about->grab().toImage().pixel(local) | 0xFF000000;
    const QRgb mainShows = qRgb(200, 30, 30);
    ASSERT_NE(aboutShows, mainShows);
    EXPECT_TRUE(WaitFor([&] { return ScreenPixel(spot) == aboutShows; }));

    mainWindow.raise();
    mainWindow.activateWindow();
    EXPECT_TRUE(WaitFor([&] { return ScreenPixel(spot) == mainShows; }))
        << "the about box stays above the main window";

    about->ShowDialog();
    EXPECT_TRUE(WaitFor([&] { return ScreenPixel(spot) == aboutShows; }))
        << "the about box does not come back in front";
}

// Under a window manager the about box's first showing is centred with its frame, once the
// manager has framed it.
TEST(DialogStacking, TheFirstShowingIsCentredWithItsFrame)
{
    ASSERT_EQ(QGuiApplication::platformName(), QLatin1String("xcb"))
        << "runs on an X server with a window manager: scripts/x11-session";
    QWidget mainWindow;
    mainWindow.setGeometry(10, 10, 300, 200);
    auto* about = new TAboutBox(&mainWindow);
    ShowAndWait(&mainWindow);
    about->ShowDialog();
    const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
    const auto offCentre = [&] {
        return (about->frameGeometry().center() - centre).manhattanLength();
    };
    EXPECT_TRUE(WaitFor([&] {
        return !about->windowHandle()->frameMargins().isNull() && offCentre() <= 1;
    })) << offCentre()
        << " px off the centre; frame " << about->windowHandle()->frameMargins().top();
}
