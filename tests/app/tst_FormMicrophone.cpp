// The microphone page on the simulated sound card: "Abrir", "Cerrar", "active" and "ECO on/off",
// what one level shows (progress bar, LCD number, bar graph, lamps and WritePort), the bar
// graph's wrap, and the failure paths.

#include "tests/app/FormFixture.h"
#include "tests/audio/WaveFixture.h"

#include <QPointer>
#include <QTest>

#include <cmath>
#include <functional>
#include <string>

namespace {

using Strings = std::vector<std::string>;

// One sample whose buffer reads as `level` (0 to 100).
std::vector<std::uint8_t> SampleOfLevel(int level)
{
    return Sample16(static_cast<std::int16_t>((level * 32767 + 99) / 100));
}

class FormMicrophone : public WaveTest
{
protected:
    // The window is built with the card installed, and goes before the card does.
    std::unique_ptr<RecordingForm> Form = MakeForm(14, 37);

    void TearDown() override
    {
        Form.reset();
        WaveTest::TearDown();
    }

    static void Click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
    HWAVE In() const { return Card.LastOpened(TWaveDirection::In); }
    HWAVE Out() const { return Card.LastOpened(TWaveDirection::Out); }

    // "Abrir", and the output's open from the message loop.
    void Open()
    {
        Click(Form->BtOpen);
        Pump();
        ASSERT_TRUE(Form->AudioRedirector1->AudioOut()->Active())
            << Errors.Messages.join(' ').toStdString();
    }
    // Records `buffers` buffers of that level, each handled before the next.
    void Level(int level, int buffers = 1)
    {
        for (int i = 0; i < buffers; ++i) {
            ASSERT_EQ(Card.RecordBuffers(In(), 1, SampleOfLevel(level)), 800u);
            Pump();
        }
    }

    // The lamps D0 to D5 as a word: bit p set when Dp shows its lit frame.
    int LampWord() const
    {
        int word = 0;
        for (int p = 0; p < 6; ++p)
            word |= (Form->Lamp(p)->FrameActual() == 1 ? 1 : 0) << p;
        return word;
    }
    bool LampsDark() const
    {
        for (int p = 0; p < 6; ++p)
            if (Form->Lamp(p)->FrameActual() != 2)
                return false;
        return true;
    }
    // Colour of a pixel of the paint box as it is on screen.
    TColor WavePixel(int x, int y) const { return PixelOf(Grab(Form->wave), x, y); }
    // The bar of level v whose left edge is x: yellow from y = 100 - v to the bottom, six
    // pixels wide, with `ground` above it and right of it.
    ::testing::AssertionResult BarShown(int x, int v, TColor ground) const
    {
        const QImage shot = Grab(Form->wave);
        for (int dx = 0; dx < 6; ++dx)
            for (int y : {100 - v, 99})
                if (PixelOf(shot, x + dx, y) != clYellow)
                    return ::testing::AssertionFailure() << "no bar at " << x + dx << "," << y;
        if (v < 100 && PixelOf(shot, x + 2, 99 - v) != ground)
            return ::testing::AssertionFailure() << "bar taller than " << v;
        if (PixelOf(shot, x + 6, 100 - v) != ground)
            return ::testing::AssertionFailure() << "bar wider than 6 at " << x;
        return ::testing::AssertionSuccess();
    }
    TColor ButtonFace() const { return FromQColor(ToQColor(clBtnFace)); }
};

// What the page shows after each step of a cycle.
struct PageState
{
    bool Checked; // "active"
    bool AudioOpen;
    bool InOpen;
    bool OutOpen;
    int Level; // AudioLevel and LCDControl1
    int Lamps; // the lamps D0 to D5 as a word
    std::vector<int> Written;
    int BarX;

    friend bool operator==(const PageState&, const PageState&) = default;
    friend std::ostream& operator<<(std::ostream& out, const PageState& s)
    {
        out << "checked " << s.Checked << " open " << s.AudioOpen << " in " << s.InOpen << " out "
            << s.OutOpen << " level " << s.Level << " lamps " << s.Lamps << " written {";
        for (int w : s.Written)
            out << w << " ";
        return out << "} BarX " << s.BarX;
    }
};

TEST_F(FormMicrophone, PageHoldsItsControlsInCreationOrder)
{
    QStringList names;
    for (QObject* child : Form->VUMETRO->children())
        names << child->objectName();
    EXPECT_EQ(names, QStringList({"wave", "Shape1", "pitch", "Label21", "Label22", "LCDControl1",
                                  "BtOpen", "BTClose", "RichEdit1", "PonerECO"}));
    const struct
    {
        QWidget* Control;
        QRect Place;
        bool Shown;
    } rows[] = {
        {Form->wave, {32, 152, 313, 100}, true},       {Form->Shape1, {23, 272, 354, 25}, false},
        {Form->LCDControl1, {392, 72, 81, 249}, true}, {Form->BtOpen, {128, 320, 89, 33}, true},
        {Form->BTClose, {224, 320, 89, 33}, true},     {Form->RichEdit1, {16, 320, 81, 33}, false},
        {Form->PonerECO, {393, 320, 81, 33}, true},    {Form->CkActive, {589, 152, 68, 17}, true},
        {Form->AudioLevel, {589, 208, 65, 17}, true},
    };
    for (const auto& row : rows) {
        const std::string name = row.Control->objectName().toStdString();
        EXPECT_EQ(row.Control->geometry(), row.Place) << name;
        EXPECT_EQ(row.Control->isVisible(), row.Shown) << name;
    }
    // A label's box grows to hold its text.
    EXPECT_EQ(Form->pitch->pos(), QPoint(419, 48));
    EXPECT_FALSE(Form->pitch->isVisible());
    EXPECT_EQ(Form->pitch->text(), "0");
    EXPECT_EQ(Form->Label21->text(), "Control microfónico");
    EXPECT_EQ(Form->Label22->text(), "Ajustar la sensibilidad del micro en el PC");
    EXPECT_EQ(Form->BtOpen->text(), "Abrir");
    EXPECT_EQ(Form->BTClose->text(), "Cerrar");
    EXPECT_EQ(Form->PonerECO->text(), "ECO on/off");
    EXPECT_EQ(Form->CkActive->text(), "active");
    EXPECT_FALSE(Form->CkActive->isChecked());
    EXPECT_EQ(Form->AudioLevel->maximum(), 100);
    EXPECT_EQ(Form->LCDControl1->NumberMax(), 100);
    EXPECT_EQ(Form->AudioRedirector1->AudioOut()->Options(), TWaveOutOptions{woSetVolume});
    // The microphone controls come after the spare sheets, the redirector after the clock timer.
    const QObjectList children = Form->children();
    EXPECT_EQ(children.indexOf(Form->CkActive), children.indexOf(Form->TabSheet3) + 1);
    EXPECT_EQ(children.indexOf(Form->AudioLevel), children.indexOf(Form->TabSheet3) + 2);
    EXPECT_GT(children.indexOf(Form->AudioRedirector1), children.indexOf(Form->Temporiz));
    EXPECT_EQ(PixelOf(Grab(Form->wave), 150, 50), ButtonFace());
}

// Relative luminance and contrast ratio as the web's accessibility guidelines define them.
double Luminance(QColor c)
{
    const auto channel = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}
double Contrast(QColor a, QColor b)
{
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// "active" reads on the slate window: its caption's strokes stand out from the window at least as
// much as the window's other texts do (4.5 : 1).
TEST_F(FormMicrophone, ActiveCaptionReadsOnTheWindow)
{
    const QImage shot = Grab(Form.get()).copy(Form->CkActive->geometry());
    const QColor window = shot.pixelColor(shot.width() - 1, 0);
    double strongest = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 20; x < shot.width(); ++x) // right of the round mark
            strongest = std::max(strongest, Contrast(shot.pixelColor(x, y), window));
    EXPECT_GE(strongest, 4.5);
}

TEST_F(FormMicrophone, FullCycleFromAbrirToCerrar)
{
    Click(Form->SpeedButton1);
    ASSERT_TRUE(Form->Temporiz->isActive());
    ASSERT_TRUE(Form->LuzTimer->Checked());
    const auto now = [&] {
        TAudioRedirector* r = Form->AudioRedirector1;
        EXPECT_EQ(Form->AudioLevel->value(), Form->LCDControl1->Number());
        return PageState{Form->CkActive->isChecked(),
                         Form->AudioOpen,
                         r->AudioIn()->Active(),
                         r->AudioOut()->Active(),
                         Form->AudioLevel->value(),
                         LampWord(),
                         Form->Written,
                         Form->BarX};
    };
    const struct
    {
        const char* Step;
        std::function<void()> Act;
        PageState Expected;
    } steps[] = {
        {"Abrir", [&] { Click(Form->BtOpen); }, {true, true, true, false, 0, 0, {}, 0}},
        {"the output opens", [&] { Pump(); }, {true, true, true, true, 0, 0, {}, 0}},
        {"level 50", [&] { Level(50); }, {true, true, true, true, 50, 15, {15}, 10}},
        {"level 100", [&] { Level(100); }, {true, true, true, true, 100, 63, {15, 63}, 20}},
        {"the echo plays",
         [&] {
             Card.Play(Out(), 2);
             Pump();
         },
         {true, true, true, true, 100, 63, {15, 63}, 20}},
        {"Abrir again",
         [&] { Click(Form->BtOpen); },
         {true, true, true, true, 100, 63, {15, 63}, 20}},
        {"Cerrar",
         [&] { Click(Form->BTClose); },
         {false, false, false, false, 0, 0, {15, 63, 0}, 30}},
    };
    for (const auto& step : steps) {
        step.Act();
        EXPECT_EQ(now(), step.Expected) << step.Step;
        EXPECT_FALSE(Form->Temporiz->isActive()) << step.Step;
        EXPECT_FALSE(Form->LuzTimer->Checked()) << step.Step;
    }
    EXPECT_TRUE(Errors.Messages.isEmpty()) << Errors.Messages.join(' ').toStdString();
    EXPECT_EQ(Count("waveInOpen"), 1u) << "the second Abrir opens nothing";
    // What was recorded came back out of the loudspeaker, sample for sample.
    const auto loud = SampleOfLevel(100);
    ASSERT_EQ(Card.Played.size(), 1600u);
    EXPECT_TRUE(std::equal(loud.begin(), loud.end(), Card.Played.end() - 2));
    // The two bars stay on screen after the close (its level 0 draws nothing).
    EXPECT_TRUE(BarShown(0, 50, ButtonFace()));
    EXPECT_TRUE(BarShown(10, 100, ButtonFace()));
}

TEST_F(FormMicrophone, BarGraphClearsAfterItsFortyFirstBarAndStartsAgainAtOne)
{
    Open();
    Level(50, 40);
    ASSERT_EQ(Form->BarX, 400);
    EXPECT_TRUE(BarShown(300, 50, ButtonFace())) << "the 31st bar";

    Level(50); // the 41st: drawn at 400, outside the box, then the box is cleared
    EXPECT_EQ(Form->BarX, 1);
    const TColor form = RGBColor(54, 75, 86);
    EXPECT_EQ(WavePixel(302, 60), form) << "the 31st bar is gone";
    EXPECT_EQ(WavePixel(150, 50), form);
    for (const QPoint outline : {QPoint(0, 50), QPoint(312, 50), QPoint(150, 0), QPoint(150, 99)})
        EXPECT_EQ(WavePixel(outline.x(), outline.y()), clYellow)
            << outline.x() << "," << outline.y();

    Level(30); // the 42nd
    EXPECT_EQ(Form->BarX, 11);
    EXPECT_TRUE(BarShown(1, 30, form));
}

TEST_F(FormMicrophone, RepaintOfThePageErasesTheBarsAndDrawingGoesOnAtBarX)
{
    Open();
    Level(40, 3);
    ASSERT_TRUE(BarShown(20, 40, ButtonFace()));
    ClickTab(Form.get(), 0);
    ClickTab(Form.get(), 6);
    ASSERT_TRUE(WaitFor([&] { return Form->wave->isVisible(); }));
    for (int x : {0, 10, 20})
        EXPECT_EQ(WavePixel(x + 2, 90), ButtonFace()) << "bar at " << x;
    Level(70);
    EXPECT_TRUE(BarShown(30, 70, ButtonFace()));
}

TEST_F(FormMicrophone, EcoOnOffTogglesTheEchoVolumeBetween50And2)
{
    Open();
    // The card's volume is linear: 65535 is full scale.
    EXPECT_EQ(Card.ControlOf(Out(), TWaveControl::Volume), 49151u) << "75% before any press";
    const struct
    {
        int Presses;
        int Percent;
        DWORD AtTheCard;
    } rows[] = {{1, 50, 32768}, {2, 2, 1311}, {3, 50, 32768}};
    for (const auto& row : rows) {
        Click(Form->PonerECO);
        EXPECT_EQ(Form->EcoOn, row.Presses % 2 == 1) << row.Presses;
        EXPECT_EQ(Form->AudioRedirector1->AudioOut()->Volume(), row.Percent) << row.Presses;
        EXPECT_EQ(Card.ControlOf(Out(), TWaveControl::Volume), row.AtTheCard) << row.Presses;
    }
    EXPECT_TRUE(Form->AudioRedirector1->Active()) << "the echo stays on";
}

TEST_F(FormMicrophone, NoCaptureDeviceShowsTheErrorAndAbrirTriesAgain)
{
    const auto devices = Card.InDevices;
    Card.InDevices.clear();
    Click(Form->SpeedButton1);
    Click(Form->BtOpen);
    Pump();
    ASSERT_EQ(Errors.Messages.size(), 1);
    EXPECT_EQ(Errors.Senders[0], Form.get());
    EXPECT_EQ(Errors.Messages[0], Form->AudioRedirector1->AudioIn()->LastErrorText());
    EXPECT_FALSE(Form->Temporiz->isActive());
    EXPECT_TRUE(Form->CkActive->isChecked());
    EXPECT_FALSE(Form->AudioOpen);
    EXPECT_FALSE(Form->AudioRedirector1->Active());

    Card.InDevices = devices;
    Click(Form->BtOpen);
    Pump();
    EXPECT_TRUE(Form->AudioOpen);
    EXPECT_TRUE(Form->AudioRedirector1->AudioOut()->Active());
    EXPECT_EQ(Errors.Messages.size(), 1);
}

TEST_F(FormMicrophone, RefusedPlaybackSwitchesTheEchoOffUntilCerrarAndAbrir)
{
    Card.Fail("waveOutOpen", MMSYSERR_ALLOCATED);
    Click(Form->BtOpen);
    EXPECT_TRUE(Form->AudioOpen) << "the input opened";
    Pump();
    ASSERT_EQ(Errors.Messages.size(), 1);
    EXPECT_EQ(Errors.Messages[0], WaveErrorText(MMSYSERR_ALLOCATED));
    EXPECT_FALSE(Form->AudioRedirector1->Active());
    EXPECT_FALSE(Form->AudioRedirector1->AudioIn()->Active());
    EXPECT_TRUE(Form->CkActive->isChecked());
    EXPECT_TRUE(Form->AudioOpen);

    Click(Form->BtOpen);
    EXPECT_EQ(Count("waveInOpen"), 1u) << "Abrir does nothing until Cerrar";
    Card.Fail("waveOutOpen", 0);
    Click(Form->BTClose);
    EXPECT_FALSE(Form->CkActive->isChecked());
    EXPECT_FALSE(Form->AudioOpen);
    Open();
    EXPECT_EQ(Errors.Messages.size(), 1);
}

TEST_F(FormMicrophone, LostServerIsReportedOnceAndCerrarThenAbrirStartsAgain)
{
    Open();
    Level(50);
    Card.LoseServer();
    Pump();
    EXPECT_EQ(Errors.Messages.size(), 1);
    EXPECT_FALSE(Form->AudioRedirector1->Active());
    EXPECT_FALSE(Form->CkActive->isChecked()) << "the echo had been running";
    Click(Form->BTClose);
    Open();
    Level(20);
    EXPECT_EQ(Form->AudioLevel->value(), 20);
    EXPECT_EQ(Errors.Messages.size(), 1);
}

TEST_F(FormMicrophone, ActiveSwitchesTheEchoOnWithoutStoppingTheClock)
{
    Click(Form->SpeedButton1);
    Click(Form->CkActive);
    Pump();
    EXPECT_TRUE(Form->CkActive->isChecked());
    EXPECT_TRUE(Form->AudioRedirector1->AudioOut()->Active());
    EXPECT_TRUE(Form->Temporiz->isActive());
    EXPECT_FALSE(Form->AudioOpen);
    Click(Form->CkActive);
    EXPECT_TRUE(Form->CkActive->isChecked()) << "a click only checks it";
    EXPECT_EQ(Count("waveInOpen"), 1u);

    // The clock button closes the microphone first, then toggles the clock.
    Click(Form->SpeedButton1);
    EXPECT_FALSE(Form->CkActive->isChecked());
    EXPECT_FALSE(Form->AudioRedirector1->Active());
    EXPECT_FALSE(Form->Temporiz->isActive());
}

TEST_F(FormMicrophone, AThousandCyclesLeaveNoHeaderOrBlockBehind)
{
    for (int i = 0; i < 1000; ++i) {
        Click(Form->BtOpen);
        Pump();
        Card.RecordBuffers(In(), 2, SampleOfLevel(i % 101));
        Pump();
        Card.Play(Out(), 1);
        Click(Form->BTClose);
        ASSERT_FALSE(Form->AudioRedirector1->Active()) << "cycle " << i;
    }
    EXPECT_EQ(Count("waveInOpen"), 1000u);
    EXPECT_EQ(Count("waveOutClose"), 1000u);
    Pump();
    EXPECT_EQ(WaveHeadersAlive(), 0u);
    EXPECT_EQ(WaveBlocksAlive(), 0u);
    EXPECT_TRUE(Errors.Messages.isEmpty());
}

TEST_F(FormMicrophone, QuittingWhileTheEchoRunsClosesItSilently)
{
    // A stuck server answers no close; the devices give up after their time bound.
    const struct
    {
        const char* Server;
        bool Stuck;
    } rows[] = {{"answering", false}, {"stuck", true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Server);
        Errors.Messages.clear();
        Form = MakeForm(14, 37);
        Open();
        TAudioRedirector* r = Form->AudioRedirector1;
        const auto note = [this](const char* what) {
            return [this, what](QObject*) { Card.Log.emplace_back(what); };
        };
        r->OnActivate = note("OnActivate");
        r->OnDeactivate = note("OnDeactivate");
        r->AudioIn()->OnLevel = [this](QObject*, std::int32_t) {
            Card.Log.emplace_back("OnLevel");
        };
        r->AudioIn()->CloseTimeout = r->AudioOut()->CloseTimeout = std::chrono::milliseconds(100);
        Level(50);                                      // a block on its way out
        Card.RecordBuffers(In(), 1, SampleOfLevel(60)); // and one not yet dispatched
        Card.SwallowClose = row.Stuck;
        Card.Log.clear();
        // The sound devices go while every control is still there.
        const QPointer<TPaintBox> wave = Form->wave;
        const QPointer<TPlayFrame> lamp = Form->D0;
        bool controlsThere = false;
        QObject::connect(r, &QObject::destroyed,
                         [&] { controlsThere = !wave.isNull() && !lamp.isNull(); });
        Form.reset();
        EXPECT_TRUE(controlsThere);
        EXPECT_EQ(Count("waveInClose"), 1u);
        EXPECT_EQ(Count("waveOutClose"), 1u);
        EXPECT_TRUE(Card.Calls("On").empty()) << ::testing::PrintToString(Card.Log);
        // A close the server never confirms is reported, after the devices were released.
        EXPECT_EQ(Errors.Messages.isEmpty(), !row.Stuck);
        for (const QString& message : Errors.Messages)
            EXPECT_EQ(message, WaveErrorText(WAVERR_CLOSETIMEOUT));
        Card.SwallowClose = false;
        Pump();
        EXPECT_EQ(WaveHeadersAlive(), 0u);
        EXPECT_EQ(WaveBlocksAlive(), 0u);
    }
}

} // namespace
