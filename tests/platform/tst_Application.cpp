// The error path: exceptions leaving handlers reach the report and the program goes on.

#include "platform/Application.h"
#include "tests/support/TestSupport.h"

#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <stdexcept>

TEST(Guard, ExceptionFromHandlerReachesReportWithItsText)
{
    ErrorRecorder errors;
    QObject sender;
    Guard(&sender, [] { throw std::runtime_error("File not found"); });
    ASSERT_EQ(errors.Messages.size(), 1);
    EXPECT_EQ(errors.Messages[0], "File not found");
    EXPECT_EQ(errors.Senders[0], &sender);
}

TEST(Guard, NonStandardExceptionIsReportedToo)
{
    ErrorRecorder errors;
    Guard(nullptr, [] { throw 42; });
    ASSERT_EQ(errors.Messages.size(), 1);
    EXPECT_FALSE(errors.Messages[0].isEmpty());
}

TEST(Guard, HandlerWithoutExceptionReportsNothing)
{
    ErrorRecorder errors;
    int runs = 0;
    Guard(nullptr, [&] { ++runs; });
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(errors.Messages.isEmpty());
}

// A timer whose handler fails every time keeps running, and every failure is reported.
TEST(Guard, ProgramGoesOnAfterAFailingTimerHandler)
{
    ErrorRecorder errors;
    QTimer timer;
    int ticks = 0;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        Guard(&timer, [&] {
            ++ticks;
            throw std::runtime_error("tick failed");
        });
    });
    timer.start(1);
    ASSERT_TRUE(WaitFor([&] { return ticks >= 3; }));
    timer.stop();
    EXPECT_EQ(errors.Messages.size(), ticks);
    EXPECT_EQ(errors.Messages.last(), "tick failed");
}

// Without a replaced reporter the failure shows the standard error box with its text.
TEST(ErrorBox, ShowsCriticalMessageBoxWithTheText)
{
    QString shownText;
    QMessageBox::Icon shownIcon = QMessageBox::NoIcon;
    QTimer::singleShot(0, [&] {
        // Runs inside the box's own event loop.
        WaitFor([] { return QApplication::activeModalWidget() != nullptr; });
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        shownText = box->text();
        shownIcon = box->icon();
        box->button(QMessageBox::Ok)->click();
    });
    HandleException(nullptr, QStringLiteral("Disk full"));
    EXPECT_EQ(shownText, "Disk full");
    EXPECT_EQ(shownIcon, QMessageBox::Critical);
}

namespace {

// A key press, not a mouse click: for a mouse event Qt makes a copy on its way to the widget, and
// an exception that crosses Qt's frames skips that copy's destructor, so a click would leak it.
// A key press reaches the handler with nothing of Qt's to clean up.
class ThrowingWidget : public QWidget
{
protected:
    void keyPressEvent(QKeyEvent*) override { throw std::runtime_error("unguarded"); }
};

} // namespace

// The application object is the last line of defence for a handler without a guard.
TEST(TApplicationNotify, CatchesExceptionEscapingAnEventHandler)
{
    ASSERT_NE(qobject_cast<TApplication*>(QCoreApplication::instance()), nullptr);
    ErrorRecorder errors;
    ThrowingWidget w;
    w.resize(20, 20);
    ShowAndWait(&w);
    QTest::keyClick(&w, Qt::Key_A);
    ASSERT_EQ(errors.Messages.size(), 1);
    EXPECT_EQ(errors.Messages[0], "unguarded");
    EXPECT_EQ(errors.Senders[0], &w);
    // The program goes on: the next key press is delivered and reported again.
    QTest::keyClick(&w, Qt::Key_B);
    EXPECT_EQ(errors.Messages.size(), 2);
}
