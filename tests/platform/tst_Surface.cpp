// Drawing surfaces: direct drawing stays until the control repaints that area.

#include "platform/Surface.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

// Renders itself silver; counts its renders.
class Plain : public TSurfaceWidget
{
public:
    int renders = 0;
    QRect lastClip;

protected:
    void Paint() override
    {
        ++renders;
        lastClip = Canvas()->PaintClipBounds();
        Canvas()->Brush = TBrush{clSilver, bsSolid};
        Canvas()->FillRect(ClientRect());
    }
};

struct SurfaceTest : ::testing::Test
{
    Plain w;
    void SetUp() override
    {
        w.resize(40, 30);
        ShowAndWait(&w);
        ASSERT_TRUE(WaitFor([&] { return PixelOf(Grab(&w), 5, 5) == clSilver; }));
    }
    void DrawRedBox()
    {
        w.Canvas()->Brush.Color = clRed;
        w.Canvas()->FillRect(Rect(2, 2, 12, 12));
    }
};

} // namespace

TEST_F(SurfaceTest, DirectDrawingShowsAtOnceAndStays)
{
    const int renders = w.renders;
    DrawRedBox();
    EXPECT_EQ(PixelOf(Grab(&w), 5, 5), clRed);
    // Another paint of the widget (without invalidation) keeps what was drawn.
    w.update();
    QApplication::processEvents();
    EXPECT_EQ(PixelOf(Grab(&w), 5, 5), clRed);
    EXPECT_EQ(w.renders, renders);
}

TEST_F(SurfaceTest, InvalidatingAnAreaRendersOnlyThatArea)
{
    DrawRedBox();
    w.Invalidate(Rect(0, 0, 6, 40));
    const QImage shot = Grab(&w);
    EXPECT_EQ(PixelOf(shot, 3, 5), clSilver);
    EXPECT_EQ(PixelOf(shot, 8, 5), clRed);
    EXPECT_EQ(w.lastClip, QRect(0, 0, 6, 30));
}

TEST_F(SurfaceTest, ShowingAgainRendersEverything)
{
    DrawRedBox();
    w.hide();
    ShowAndWait(&w);
    EXPECT_EQ(PixelOf(Grab(&w), 8, 8), clSilver);
}

TEST_F(SurfaceTest, ResizingRendersEverything)
{
    DrawRedBox();
    w.resize(50, 30);
    EXPECT_EQ(PixelOf(Grab(&w), 8, 8), clSilver);
    EXPECT_EQ(PixelOf(Grab(&w), 48, 8), clSilver);
}

TEST_F(SurfaceTest, ExceptionDuringPaintIsReportedAndPaintingGoesOn)
{
    struct Failing : Plain
    {
        bool fail = true;
        void Paint() override
        {
            if (fail) {
                fail = false;
                throw std::runtime_error("paint failed");
            }
            Plain::Paint();
        }
    };
    ErrorRecorder errors;
    Failing f;
    f.resize(10, 10);
    ShowAndWait(&f);
    ASSERT_TRUE(WaitFor([&] { return !errors.Messages.isEmpty(); }));
    EXPECT_EQ(errors.Messages[0], "paint failed");
    f.Invalidate();
    EXPECT_EQ(PixelOf(Grab(&f), 5, 5), clSilver);
}

// What is drawn right after the control is shown (a pointer drawn after a page change) stays.
TEST_F(SurfaceTest, DrawingRightAfterShowingStaysOnTop)
{
    w.hide();
    w.show();
    DrawRedBox();
    QApplication::processEvents();
    EXPECT_EQ(PixelOf(Grab(&w), 5, 5), clRed);
}

// A repaint requested before drawing takes place after it and wipes what was drawn.
TEST_F(SurfaceTest, RepaintRequestedBeforeDrawingWipesIt)
{
    w.Invalidate();
    DrawRedBox();
    EXPECT_EQ(PixelOf(Grab(&w), 5, 5), clSilver);
}
