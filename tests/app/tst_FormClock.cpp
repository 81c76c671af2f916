// The clock in the main window: counters, read-out, pointer, lamps, OutputWord and WritePort.

#include "tests/app/FormFixture.h"

#include <gtest/gtest.h>

namespace {

void Ticks(TFormVardo* form, int n)
{
    for (int i = 0; i < n; ++i)
        form->TemporizTimer(form->Temporiz);
}

bool LampLit(TPlayFrame* lamp)
{
    return lamp->FrameActual() == 1;
}

} // namespace

TEST(FormClock, RightAfterStart)
{
    auto form = MakeForm(14, 37);
    EXPECT_EQ(form->Label4->text(), "1");
    EXPECT_EQ(form->cx->text(), "cx");
    EXPECT_EQ(form->cy->text(), "cy");
    EXPECT_FALSE(form->LuzTimer->Checked());
    EXPECT_FALSE(form->Temporiz->isActive());
    EXPECT_EQ(form->Temporiz->interval(), 1);
    EXPECT_FALSE(form->Velocidad->isChecked());
    EXPECT_EQ(form->TrackBar1->value(), 1);
    for (int k = 0; k < 8; ++k)
        EXPECT_EQ(form->Lamp(k)->FrameActual(), 2) << "D" << k;
    EXPECT_EQ(form->Clock, (TClockCounters{14, 7, 2, 0}));
    EXPECT_TRUE(form->Written.empty());
}

TEST(FormClock, StartedAt1437)
{
    auto form = MakeForm(14, 37);
    form->PageControl1->setCurrentIndex(0);
    Ticks(form.get(), 1);
    EXPECT_EQ(form->cx->text(), "14");
    EXPECT_EQ(form->cy->text(), "35");
    // Column "35 min" is 8, row "14 h" is 15.
    EXPECT_EQ(form->BSSGrid1->Cells(8, 0), "35 min");
    EXPECT_EQ(form->BSSGrid1->Cells(0, 15), "14 h");
    EXPECT_TRUE(PointerShown(form->BSSGrid1, 8, 15));
    EXPECT_EQ(form->Written, std::vector<int>{0});

    Ticks(form.get(), 852);
    EXPECT_EQ(form->cy->text(), "35") << "853 ticks";
    Ticks(form.get(), 1);
    EXPECT_EQ(form->cy->text(), "40") << "854 ticks";
    EXPECT_EQ(form->Written.size(), 854u);
}

TEST(FormClock, StartedAt2358WrapsTheDay)
{
    auto form = MakeForm(23, 58);
    form->Schedule.Set(0, 0, 0, true); // D0 at 0 h 0 min
    form->PageControl1->setCurrentIndex(0);
    QApplication::processEvents();
    Ticks(form.get(), 1);
    EXPECT_EQ(form->cx->text(), "24");
    EXPECT_EQ(form->cy->text(), "0");
    EXPECT_EQ(form->Clock.ClockHour, 0);
    EXPECT_EQ(form->OutputWord, 1);
    EXPECT_EQ(form->Label4->text(), "1");
    EXPECT_TRUE(form->JOn->Checked());
    EXPECT_TRUE(LampLit(form->D0));
    EXPECT_EQ(form->Written, std::vector<int>{1});
    // The repaint of all grids after the wrap clears even the pointer just drawn.
    EXPECT_FALSE(PointerShown(form->BSSGrid1, 1, 1));
    EXPECT_EQ(CellColour(form->BSSGrid1, 1, 1), clRed);
    Ticks(form.get(), 1);
    EXPECT_EQ(form->cx->text(), "0");
    EXPECT_TRUE(PointerShown(form->BSSGrid1, 1, 1));
}

TEST(FormClock, TestModeSlotLengths)
{
    const std::pair<int, int> cases[] = {{10, 2}, {1, 16}, {4, 4}};
    for (const auto& [speed, ticksPerSlot] : cases) {
        auto form = MakeForm(8, 0);
        form->Velocidad->setChecked(true);
        form->TrackBar1->setValue(speed);
        int ticks = 0;
        while (form->cy->text() != "5") {
            Ticks(form.get(), 1);
            ASSERT_LT(++ticks, 100) << "speed " << speed;
        }
        EXPECT_EQ(ticks, ticksPerSlot) << "speed " << speed;
        EXPECT_EQ(form->Temporiz->interval(), 1);
    }
}

TEST(FormClock, OutputWordFromTheCurrentSlot)
{
    struct Case
    {
        std::vector<int> outputs;
        int word;
        bool jOn;
    };
    const Case cases[] = {
        {{0, 2}, 5, true}, {{5}, 32, false}, {{}, 0, false}, {{0, 1, 2, 3, 4, 5}, 63, true}};
    for (const Case& c : cases) {
        auto form = MakeForm(10, 20);
        for (int p : c.outputs)
            form->Schedule.Set(p, 4, 10, true);
        Ticks(form.get(), 1);
        EXPECT_EQ(form->OutputWord, c.word);
        EXPECT_EQ(form->Label4->text(), QString::number(c.word));
        EXPECT_EQ(form->JOn->Checked(), c.jOn) << c.word;
        for (int p = 0; p < 6; ++p)
            EXPECT_EQ(LampLit(form->Lamp(p)), (c.word >> p) & 1) << "word " << c.word << " D" << p;
        EXPECT_EQ(form->D6->FrameActual(), 2);
        EXPECT_EQ(form->D7->FrameActual(), 2);
        EXPECT_EQ(form->Written, std::vector<int>{c.word});
    }
}

// A lit lamp picture makes its lamp on the board look lit: red in the middle of the lamp.
TEST(FormClock, LitLampShowsOverTheBoard)
{
    auto form = MakeForm(10, 20);
    form->Schedule.Set(3, 4, 10, true);
    Ticks(form.get(), 1);
    const QImage shot = Grab(form.get());
    auto centre = [&](int k) {
        const QRect r = form->Lamp(k)->geometry();
        return shot.pixelColor(r.center().x() + 3, r.center().y() + 3);
    };
    const QColor lit = centre(3);
    const QColor dark = centre(2);
    EXPECT_GT(lit.red(), 200);
    EXPECT_LT(dark.red(), 140);
    EXPECT_GT(lit.red(), dark.red() + 80);
}

TEST(FormClock, TabClickWhileStoppedUpdatesLampsButWritesNothing)
{
    auto form = MakeForm(9, 0);
    form->Schedule.Set(0, 0, 9, true);
    form->Schedule.Set(2, 0, 9, true);
    ClickTab(form.get(), 2);
    EXPECT_EQ(form->PageControl1->currentIndex(), 2);
    EXPECT_EQ(form->Label4->text(), "5");
    EXPECT_TRUE(form->JOn->Checked());
    EXPECT_TRUE(LampLit(form->D2));
    EXPECT_TRUE(PointerShown(form->BSSGrid3, 1, 10));
    EXPECT_TRUE(form->Written.empty());
}

TEST(FormClock, ReleaseOverAGridIsNotAPageControlClick)
{
    auto form = MakeForm(9, 0);
    form->PageControl1->setCurrentIndex(0);
    QApplication::processEvents();
    QTest::mouseClick(form->BSSGrid1, Qt::LeftButton, Qt::NoModifier,
                      CellMid(form->BSSGrid1, 5, 5));
    EXPECT_EQ(form->Label4->text(), "1");
    EXPECT_FALSE(PointerShown(form->BSSGrid1, 1, 10));
}

TEST(FormClock, TrailStaysUntilThePageIsShownAgain)
{
    auto form = MakeForm(6, 0);
    form->Velocidad->setChecked(true);
    form->TrackBar1->setValue(10);
    ClickTab(form.get(), 0);
    Ticks(form.get(), 6); // slots 0, 1 (tick 2), 2 (tick 4), 3 (tick 6)
    EXPECT_EQ(form->cy->text(), "15");
    for (int col = 1; col <= 4; ++col)
        EXPECT_TRUE(PointerShown(form->BSSGrid1, col, 7)) << "column " << col;
    ClickTab(form.get(), 3);
    ClickTab(form.get(), 0);
    for (int col = 1; col <= 3; ++col)
        EXPECT_FALSE(PointerShown(form->BSSGrid1, col, 7)) << "column " << col;
    EXPECT_TRUE(PointerShown(form->BSSGrid1, 4, 7));
}

TEST(FormClock, ClockButtonStartsAndStopsTheClock)
{
    auto form = MakeForm(12, 0);
    form->SpeedButton1->click();
    EXPECT_TRUE(form->Temporiz->isActive());
    EXPECT_TRUE(form->LuzTimer->Checked());
    // The clock runs: WritePort receives a word at every tick.
    ASSERT_TRUE(WaitFor([&] { return form->Written.size() >= 3; }));
    EXPECT_NE(form->cx->text(), "cx");
    form->SpeedButton1->click();
    EXPECT_FALSE(form->Temporiz->isActive());
    EXPECT_FALSE(form->LuzTimer->Checked());
    const TClockCounters stopped = form->Clock;
    QApplication::processEvents();
    EXPECT_EQ(form->Clock, stopped) << "stopping keeps the counters";
}

TEST(FormClock, TestNormalClickedTwiceLeavesTheSlowInterval)
{
    auto form = MakeForm(12, 0);
    QTest::mouseClick(form->Velocidad, Qt::LeftButton);
    EXPECT_TRUE(form->Velocidad->isChecked());
    EXPECT_EQ(form->Temporiz->interval(), 1);
    QTest::mouseClick(form->Velocidad, Qt::LeftButton);
    EXPECT_FALSE(form->Velocidad->isChecked());
    EXPECT_EQ(form->Temporiz->interval(), 1000);
    EXPECT_FALSE(form->Temporiz->isActive());
}

// Started at minutes 58 or 59 the clock stands on slot 12 until its first tick. A pointer step
// before that shows the hour's last slot and reads nothing outside the schedule.
TEST(FormClock, PointerStepBeforeTheFirstTickAtMinute59)
{
    auto form = MakeForm(23, 59);
    ASSERT_EQ(form->Clock.ClockSlot, 12);
    form->Schedule.Set(5, 11, 23, true);
    ClickTab(form.get(), 5);
    EXPECT_TRUE(PointerShown(form->BSSGrid6, 12, 24));
    EXPECT_EQ(form->OutputWord, 32);
    EXPECT_EQ(form->Clock.ClockSlot, 12) << "the counters are left for the first tick";
    Ticks(form.get(), 1);
    EXPECT_EQ(form->cx->text(), "24");
    EXPECT_EQ(form->cy->text(), "0");
}
