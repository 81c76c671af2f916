// The frame pacer: a window's repaints reach the screen at most once per display frame, the
// last state is always painted, and a quiet window repaints at once.

#include "core/TickTimer.h"
#include "platform/FramePacer.h"
#include "tests/support/TestSupport.h"

#include <QElapsedTimer>
#include <QPainter>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

// Paints its number and remembers the number last painted.
class Counter : public QWidget
{
public:
    using QWidget::QWidget;
    int Value = 0;
    int Painted = -1;
    int Paints = 0;
    void Set(int value)
    {
        Value = value;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), Qt::white);
        p.drawText(rect(), Qt::AlignCenter, QString::number(Value));
        Painted = Value;
        ++Paints;
    }
};

struct FramePacerTest : ::testing::Test
{
    QWidget window;
    Counter* counter = new Counter(&window);
    TFramePacer* pacer = new TFramePacer(&window);

    void SetUp() override
    {
        window.resize(120, 60);
        counter->setGeometry(10, 10, 100, 40);
        ShowAndWait(&window);
        ASSERT_TRUE(WaitFor([&] { return !pacer->Pending(); }));
    }
};

} // namespace

// A change every millisecond-or-so, as a 1 kHz clock makes them: far fewer paints than changes,
// never more than one per frame (plus the first, which goes through at once), and the last
// change is on screen once the held-back repaint has run.
TEST_F(FramePacerTest, ChangesWithinAFrameArePaintedOnce)
{
    const int paintsBefore = counter->Paints;
    QElapsedTimer clock;
    clock.start();
    int changes = 0;
    // Six frames and a dozen changes at least (a busy machine may hold the loop up).
    while (clock.elapsed() < 6LL * pacer->FrameInterval() || changes < 12) {
        counter->Set(++changes);
        QApplication::processEvents();
    }
    const qint64 elapsed = clock.elapsed();
    const int paints = counter->Paints - paintsBefore;
    EXPECT_LE(paints, elapsed / pacer->FrameInterval() + 2)
        << paints << " paints for " << changes << " changes in " << elapsed << " ms";
    ASSERT_TRUE(WaitFor([&] { return counter->Painted == changes; }))
        << "last painted " << counter->Painted << " of " << changes;
    EXPECT_FALSE(pacer->Pending());
}

// In a clock of the test's own: a frame after the last paint, a change is painted at once; a
// second one in the same frame is held back until the frame's end. The window's request to paint
// is sent as the window system sends it, and nothing else runs in between.
TEST_F(FramePacerTest, AQuietWindowRepaintsAtOnce)
{
    qint64 now = 1000000;
    const TScopedMonotonicClock clock([&] { return now; });
    const auto change = [&](int value) {
        counter->Set(value);
        QEvent request(QEvent::UpdateRequest);
        QCoreApplication::sendEvent(&window, &request);
    };
    change(40); // the last paint, at a time of the test's clock
    ASSERT_EQ(counter->Painted, 40);
    now += pacer->FrameInterval();
    change(41);
    EXPECT_EQ(counter->Painted, 41);
    EXPECT_FALSE(pacer->Pending());
    now += pacer->FrameInterval() - 1;
    change(42);
    EXPECT_TRUE(pacer->Pending());
    EXPECT_EQ(counter->Painted, 41);
    ASSERT_TRUE(WaitFor([&] { return counter->Painted == 42; }));
}

TEST_F(FramePacerTest, FlushPaintsWhatIsHeldBackNow)
{
    counter->Set(7);
    QApplication::processEvents();
    counter->Set(8);
    QApplication::processEvents();
    if (pacer->Pending()) {
        pacer->Flush();
        EXPECT_FALSE(pacer->Pending());
    }
    EXPECT_EQ(counter->Painted, 8);
}
