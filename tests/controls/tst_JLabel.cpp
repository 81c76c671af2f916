// TJLabel: the hover look while the pointer is over the label, the off look after it leaves.

#include "controls/JLabel.h"
#include "tests/support/TestSupport.h"

#include <QMouseEvent>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <memory>

namespace {

// The offscreen platform cannot grab the pointer at the window system and says so at every
// grab; Qt still routes the window's mouse events to the grabbing widget, which is what counts.
QtMessageHandler PreviousHandler = nullptr;
void QuietAboutGrabs(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.startsWith(QLatin1String("This plugin does not support grabbing")))
        return;
    if (PreviousHandler)
        PreviousHandler(type, context, message);
}
const bool Quiet = (PreviousHandler = qInstallMessageHandler(QuietAboutGrabs), true);

constexpr TColor PanelColour = RGBColor(57, 80, 91);
constexpr TColor LightCyan = RGBColor(128, 255, 255);
constexpr TColor Blue = RGBColor(0, 0, 255);
constexpr TColor Lime = RGBColor(0, 255, 0);
constexpr TColor FormColour = RGBColor(200, 200, 200);

// A form that counts the mouse moves it is given.
class Form : public QWidget
{
public:
    Form()
    {
        setMouseTracking(true);
        resize(300, 150);
        SetBackgroundColor(this, FormColour);
    }
    int moves = 0;

protected:
    void mouseMoveEvent(QMouseEvent*) override { ++moves; }
};

// Whether any pixel of the image has the colour.
bool Contains(const QImage& image, TColor colour)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (PixelOf(image, x, y) == colour)
                return true;
    return false;
}

// The web link of the about box: underlined lime on the panel colour, light cyan and blue
// while hovered.
void MakeLink(TJLabel* label)
{
    label->SetColor(PanelColour);
    label->SetOnMoveBColor(LightCyan);
    label->SetOffMoveBColor(PanelColour);
    label->SetOnMoveFColor(Blue);
    label->SetOffMoveFColor(Lime);
    label->SetOnStyles(fsUnderline);
    label->SetOnEnabled(true);
}

TJLabel* NewLink(QWidget* parent)
{
    auto* label = new TJLabel(parent, "JLabel1", QRect(40, 50, 164, 20), " www.example.org ", Lime,
                              MakeFont("MS Sans Serif", 16, fsUnderline));
    MakeLink(label);
    return label;
}

struct JLabelTest : ::testing::Test
{
    Form form;
    TJLabel* label = NewLink(&form);
    int labelMoves = 0;

    void SetUp() override
    {
        label->OnMouseMove = [this](QObject*, Qt::MouseButtons, Qt::KeyboardModifiers, int, int) {
            ++labelMoves;
        };
        ShowAndWait(&form);
        form.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    }

    // Moves the pointer, with no button held, to a point of the label (label coordinates), as
    // the window system reports it: Qt routes it to the widget under the pointer or the grab.
    void MoveTo(QPoint labelPos) { MoveOnForm(label->mapTo(&form, labelPos)); }
    void MoveOnForm(QPoint formPos) { QTest::mouseMove(form.windowHandle(), formPos); }
    void MoveIn() { MoveTo(QPoint(10, 5)); }
    void MoveOut() { MoveOnForm(QPoint(5, 5)); }

    bool HasHoverLook() const
    {
        return label->Color() == LightCyan && label->FontColor() == Blue &&
               label->FontStyle() == fsUnderline;
    }
    bool HasOffLook() const
    {
        return label->Color() == PanelColour && label->FontColor() == Lime &&
               label->FontStyle() == fsNone;
    }
};

} // namespace

TEST(JLabelNew, HoverIsOffAndEveryColourBlack)
{
    TJLabel label(nullptr, "JLabel", QRect(0, 0, 50, 20), "x", Lime, DefaultFont());
    EXPECT_EQ(label.OnMoveBColor(), clBlack);
    EXPECT_EQ(label.OffMoveBColor(), clBlack);
    EXPECT_EQ(label.OnMoveFColor(), clBlack);
    EXPECT_EQ(label.OffMoveFColor(), clBlack);
    EXPECT_EQ(label.OnStyles(), unsigned(fsNone));
    EXPECT_FALSE(label.OnEnabled());
    EXPECT_FALSE(label.Hovering());
}

TEST_F(JLabelTest, StartsWithTheFormsLook)
{
    EXPECT_EQ(label->Color(), PanelColour);
    EXPECT_EQ(label->FontColor(), Lime);
    EXPECT_EQ(label->FontStyle(), unsigned(fsUnderline));
    const QImage shot = Grab(label);
    EXPECT_EQ(PixelOf(shot, 1, 1), PanelColour);
    EXPECT_FALSE(Contains(shot, Blue));
}

TEST_F(JLabelTest, PointerOverTheLabelGivesTheHoverLook)
{
    MoveIn();
    EXPECT_TRUE(HasHoverLook());
    EXPECT_TRUE(label->Hovering());
    EXPECT_EQ(QWidget::mouseGrabber(), label);
    const QImage shot = Grab(label);
    EXPECT_EQ(PixelOf(shot, 1, 1), LightCyan);
    EXPECT_TRUE(Contains(shot, Blue)); // the underline at least
    // Further moves inside change nothing.
    MoveTo(QPoint(30, 10));
    EXPECT_TRUE(HasHoverLook());
    EXPECT_EQ(QWidget::mouseGrabber(), label);
}

TEST_F(JLabelTest, LeavingGivesTheOffLookAndAPlainFont)
{
    MoveIn();
    MoveOut();
    EXPECT_TRUE(HasOffLook());
    EXPECT_FALSE(label->Hovering());
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
    const QImage shot = Grab(label);
    EXPECT_EQ(PixelOf(shot, 1, 1), PanelColour);
    EXPECT_FALSE(Contains(shot, Blue));
    // The underline the form gave it is gone for good; the next hover brings the hover style.
    MoveIn();
    EXPECT_TRUE(HasHoverLook());
    MoveOut();
    EXPECT_EQ(label->FontStyle(), unsigned(fsNone));
}

TEST_F(JLabelTest, TheRightAndBottomEdgesCountAsInside)
{
    MoveIn();
    const int w = label->width();
    const int h = label->height();
    MoveTo(QPoint(w, h));
    EXPECT_TRUE(HasHoverLook());
    EXPECT_EQ(QWidget::mouseGrabber(), label);
    MoveTo(QPoint(w, 0));
    MoveTo(QPoint(0, h));
    EXPECT_TRUE(label->Hovering());
    MoveTo(QPoint(w + 1, h));
    EXPECT_TRUE(HasOffLook());

    MoveIn();
    MoveTo(QPoint(5, h + 1));
    EXPECT_TRUE(HasOffLook());
    MoveIn();
    MoveTo(QPoint(-1, 5));
    EXPECT_TRUE(HasOffLook());
}

TEST_F(JLabelTest, ItsOwnMouseMoveNeverFiresAndTheFormSeesNoMoves)
{
    MoveIn();
    MoveTo(QPoint(20, 8));
    MoveOut(); // still the label's: it holds the grab until it has seen the pointer leave
    EXPECT_EQ(labelMoves, 0);
    EXPECT_EQ(form.moves, 0);
    MoveOnForm(QPoint(6, 6));
    EXPECT_EQ(form.moves, 1);
}

TEST_F(JLabelTest, WithOnEnabledClearNothingChanges)
{
    label->SetOnEnabled(false);
    MoveIn();
    EXPECT_EQ(label->Color(), PanelColour);
    EXPECT_EQ(label->FontColor(), Lime);
    EXPECT_EQ(label->FontStyle(), unsigned(fsUnderline));
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
    EXPECT_FALSE(label->Hovering());
    MoveTo(QPoint(20, 8));
    EXPECT_EQ(form.moves, 0);
    MoveOut();
    EXPECT_EQ(label->FontStyle(), unsigned(fsUnderline));
    EXPECT_EQ(label->Color(), PanelColour);
    EXPECT_EQ(labelMoves, 0);
}

TEST_F(JLabelTest, NoHoverLookWhileTheFormIsNotActive)
{
    QWidget other;
    other.resize(100, 100);
    other.move(400, 400);
    ShowAndWait(&other);
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    ASSERT_NE(QApplication::activeWindow(), &form);

    MoveIn();
    EXPECT_EQ(label->Color(), PanelColour);
    EXPECT_EQ(label->FontColor(), Lime);
    EXPECT_EQ(label->FontStyle(), unsigned(fsUnderline));
    // The label still watches the pointer, and leaving sets the off look.
    EXPECT_EQ(QWidget::mouseGrabber(), label);
    EXPECT_TRUE(label->Hovering());
    MoveOut();
    EXPECT_TRUE(HasOffLook());
}

TEST(JLabelNoForm, ALabelOnNoFormNeverTakesTheHoverLook)
{
    TJLabel label(nullptr, "JLabel1", QRect(100, 100, 164, 20), " www.example.org ", Lime,
                  MakeFont("MS Sans Serif", 16, fsUnderline));
    MakeLink(&label);
    ShowAndWait(&label);
    label.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&label));
    QTest::mouseMove(label.windowHandle(), QPoint(10, 5));
    EXPECT_EQ(label.Color(), PanelColour);
    EXPECT_EQ(label.FontColor(), Lime);
    EXPECT_EQ(label.FontStyle(), unsigned(fsUnderline));
    QTest::mouseMove(label.windowHandle(), QPoint(30, 8));
    EXPECT_EQ(label.Color(), PanelColour);
    label.releaseMouse();
}

TEST_F(JLabelTest, NewHoverColoursShowAtTheNextHoverChange)
{
    label->SetOnMoveBColor(clRed);
    label->SetOffMoveFColor(clWhite);
    EXPECT_EQ(label->Color(), PanelColour);
    EXPECT_EQ(label->FontColor(), Lime);
    MoveIn();
    EXPECT_EQ(label->Color(), clRed);
    MoveOut();
    EXPECT_EQ(label->FontColor(), clWhite);
}

TEST_F(JLabelTest, ClickFiresOnClick)
{
    int clicks = 0;
    QObject* sender = nullptr;
    label->OnClick = [&](QObject* s) {
        ++clicks;
        sender = s;
    };
    MoveIn();
    QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(10, 5));
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(sender, label);
    // The click leaves the hover as it was; leaving still restores the off look.
    EXPECT_TRUE(HasHoverLook());
    MoveOut();
    EXPECT_TRUE(HasOffLook());
}
