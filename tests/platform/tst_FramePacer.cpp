// The frame pacer: a window's repaints reach the screen at most once per display frame, the
// last state is always painted, and a quiet window repaints at once.

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
    while (clock.elapsed() < 6LL * pacer->FrameInterval()) {
        counter->Set(++changes);
        QApplication::processEvents();
    }
    const qint64 elapsed = clock.elapsed();
    const int paints = counter->Paints - paintsBefore;
    EXPECT_GE(changes, 12) << "the loop made too few changes to say anything";
    EXPECT_LE(paints, elapsed / pacer->FrameInterval() + 2)
        << paints << " paints for " << changes << " changes in " << elapsed << " ms";
    ASSERT_TRUE(WaitFor([&] { return counter->Painted == changes; }))
        << "last painted " << counter->Painted << " of " << changes;
    EXPECT_FALSE(pacer->Pending());
}

TEST_F(FramePacerTest, AQuietWindowRepaintsAtOnce)
{
    QElapsedTimer quiet;
    quiet.start();
    ASSERT_TRUE(WaitFor([&] { return quiet.elapsed() > pacer->FrameInterval(); }));
    counter->Set(41);
    QApplication::processEvents();
    EXPECT_EQ(counter->Painted, 41);
    // A second change right after is held back until the frame's end, then painted.
    counter->Set(42);
    QApplication::processEvents();
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
