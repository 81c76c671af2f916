// TAboutBox: size and place, texts, pictures, Enter in the wiring text and on OK, one dialog
// however often shown, the web label's attempts to open the maker's page, and the dialogs never
// keeping the program alive.

#include "controls/JLabel.h"
#include "dialogs/AboutVardo.h"
#include "dialogs/InfoVardo.h"
#include "platform/Message.h"
#include "platform/ShellOpen.h"
#include "platform/StdControls.h"
#include "tests/dialogs/DialogFixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <vector>

namespace {

constexpr TColor Slate = RGBColor(57, 80, 91);
const QString Address = QStringLiteral("http://WWW.EXAMPLE.COM");

struct AboutVardoTest : ::testing::Test
{
    QWidget mainWindow;
    TAboutBox* box = new TAboutBox(&mainWindow);
};

} // namespace

TEST_F(AboutVardoTest, AHiddenFixedDialogCentredOnTheScreen)
{
    // A window of its own, which the main window deletes when it goes.
    ExpectHiddenFixedDialog(box, nullptr, "AboutBox", QStringLiteral("About"), QSize(662, 567));
    EXPECT_EQ(box->Panel1->geometry(), box->rect());
    EXPECT_EQ(box->OKButton->parentWidget(), box);
    EXPECT_EQ(box->OKButton->geometry(), QRect(408, 479, 153, 50));

    mainWindow.setGeometry(10, 10, 200, 100); // far from the centre: the dialog ignores it
    ShowAndWait(&mainWindow);
    ASSERT_TRUE(ShowAndActivate(box));
    const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
    // The window as a whole, frame included, is centred.
    EXPECT_LE((box->frameGeometry().center() - centre).manhattanLength(), 2)
        << box->frameGeometry().x() << "," << box->frameGeometry().y();
    ASSERT_NE(box->windowHandle(), nullptr);
    EXPECT_EQ(box->windowHandle()->transientParent(), nullptr) << "not kept over the main window";
}

TEST_F(AboutVardoTest, TheWiringTextLineByLine)
{
    const QStringList lines = box->Memo1->toPlainText().split(u'\n');
    ASSERT_EQ(lines.size(), 11);
    EXPECT_EQ(lines[0], QStringLiteral("Control de Brelom para corriente alterna"));
    EXPECT_EQ(lines[2], QStringLiteral("y está aislada mediante un opto-triac del"));
    // The spacing of the port examples is part of the text.
    EXPECT_EQ(lines[8], QStringLiteral(" ( en QBasic:  OUT 888 , X  "));
    EXPECT_EQ(lines[9], QStringLiteral(" para X  =  5 se activan D2 y D0             000101 "));
    EXPECT_EQ(lines[10], QStringLiteral(" para X = 15 se activan D0,D1,D2 y D3  001111)"));
    EXPECT_FALSE(box->Memo1->isReadOnly());
    EXPECT_EQ(FromQColor(box->Memo1->palette().color(QPalette::Text)), clAqua);
    EXPECT_EQ(box->Memo1->geometry(), QRect(352, 233, 305, 192));
}

TEST_F(AboutVardoTest, LabelsInTheirColours)
{
    ExpectLabels({
        {box->ProductName, QStringLiteral("Brelom"), clLime, 24, fsBold},
        {box->Version, QStringLiteral("Version 1.0"), clLime, 16, fsBold},
        {box->Label1, QStringLiteral("Conexión de la regleta a un sistema de control de luces"),
         clAqua, 13, fsNone},
        {box->JLabel1, QStringLiteral(" www.example.com "), clLime, 16, fsUnderline},
    });
    // The hover look itself is the label's own rule; here only how the dialog sets it up.
    EXPECT_EQ(box->JLabel1->Color(), Slate);
    EXPECT_EQ(box->JLabel1->OnMoveBColor(), RGBColor(128, 255, 255));
    EXPECT_EQ(box->JLabel1->OffMoveBColor(), Slate);
    EXPECT_EQ(box->JLabel1->OnMoveFColor(), clBlue);
    EXPECT_EQ(box->JLabel1->OffMoveFColor(), clLime);
    EXPECT_EQ(box->JLabel1->OnStyles(), unsigned(fsUnderline));
    EXPECT_TRUE(box->JLabel1->OnEnabled());
}

TEST_F(AboutVardoTest, EachPictureInItsPlace)
{
    ShowAndWait(box);
    // Points inside each picture, and just beyond its own size inside its larger box, where the
    // panel shows: the pictures are drawn at their size from the box's top left.
    ExpectPixels(box, {
                          {"icon: the torch's flame", QPoint(546, 19), RGBColor(255, 255, 0)},
                          {"icon: the roof", QPoint(546, 34), RGBColor(128, 0, 0)},
                          {"connector: first light", QPoint(71, 45), RGBColor(0, 255, 0)},
                          {"connector: beyond", QPoint(42 + 166, 17 + 50), Slate},
                          {"strip: its switch", QPoint(34 + 176, 234 + 78), RGBColor(192, 57, 43)},
                          {"strip: beyond", QPoint(34 + 198, 234 + 60), Slate},
                          {"circuit: paper", QPoint(373 + 120, 74 + 10), clWhite},
                          {"circuit: mains wire", QPoint(373 + 200, 74 + 116), clBlack},
                          {"circuit: beyond", QPoint(373 + 246, 74 + 60), Slate},
                          {"circuit: below", QPoint(373 + 100, 74 + 132), Slate},
                          {"bench: wood", QPoint(40 + 180, 384 + 20), RGBColor(200, 155, 98)},
                          {"bench: beyond", QPoint(40 + 199, 384 + 20), Slate},
                      });
}

// Pictures rendered ahead on threads of their own, stretched and at their own size, paint as the
// ones rendered at the first paint.
TEST_F(AboutVardoTest, PicturesPreparedAheadPaintTheSame)
{
    auto* prepared = new TAboutBox(&mainWindow);
    prepared->PreparePictures();
    ShowAndWait(prepared);
    const QImage ahead = prepared->grab().toImage();
    prepared->hide();
    ShowAndWait(box);
    EXPECT_EQ(ahead, box->grab().toImage());
}

TEST_F(AboutVardoTest, EnterAddsALineInTheTextAndHidesTheDialogOnceTheFocusLeftIt)
{
    ASSERT_TRUE(ShowAndActivate(box));
    EXPECT_EQ(QApplication::focusWidget(), box->Memo1);
    TypeKey(box, Qt::Key_Return);
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(box->Memo1->blockCount(), 12);

    TypeKey(box, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), box->OKButton);
    TypeKey(box, Qt::Key_Return);
    EXPECT_FALSE(box->isVisible());
    EXPECT_EQ(box->result(), QDialog::Accepted);

    // The same dialog again, as it was left.
    ASSERT_TRUE(ShowAndActivate(box));
    EXPECT_EQ(box->Memo1->blockCount(), 12);
    EXPECT_EQ(QApplication::focusWidget(), box->OKButton);
    QTest::mouseClick(box->OKButton, Qt::LeftButton);
    EXPECT_FALSE(box->isVisible());
}

TEST_F(AboutVardoTest, OneDialogHoweverOftenShown)
{
    ShowAndWait(&mainWindow);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(ActivateOther(&mainWindow)) << i;
        ASSERT_TRUE(ShowAndActivate(box)) << i;
        EXPECT_EQ(QApplication::activeWindow(), box) << i;
    }
    int shown = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        shown += qobject_cast<TAboutBox*>(w) != nullptr && w->isVisible() ? 1 : 0;
    EXPECT_EQ(shown, 1);
}

TEST_F(AboutVardoTest, TheWebLabelTriesTheHandlerThenTwoBrowsersThenSaysSo)
{
    struct Row
    {
        const char* what;
        std::vector<int> answers; // the shell's result for each attempt, in order
        size_t attempts;
        bool message;
    };
    const Row rows[] = {
        {"a default handler", {ShellOpenStarted}, 1, false},
        {"no handler, netscape.exe present", {SE_ERR_NOASSOC, ShellOpenStarted}, 2, false},
        {"only iexplore.exe", {SE_ERR_NOASSOC, SE_ERR_FNF, 33}, 3, false},
        {"nothing opens it (32 is a failure)", {SE_ERR_NOASSOC, SE_ERR_FNF, 32}, 3, true},
    };
    const std::vector<TShellRequest> expected = {
        {nullptr, "open", Address, "", "", SW_SHOWNORMAL},
        {nullptr, "open", "netscape.exe", Address, "", SW_SHOWNORMAL},
        {nullptr, "open", "iexplore.exe", Address, "", SW_SHOWNORMAL},
    };
    ASSERT_TRUE(ShowAndActivate(box));
    for (const Row& row : rows) {
        std::vector<TShellRequest> asked;
        QStringList messages;
        TScopedShell shell([&](const TShellRequest& request) {
            asked.push_back(request);
            return asked.size() <= row.answers.size() ? row.answers[asked.size() - 1] : SE_ERR_FNF;
        });
        TScopedMessageShower shower([&](const QString& text) { messages.append(text); });

        QTest::mouseClick(box->JLabel1, Qt::LeftButton, {}, QPoint(10, 5));

        ASSERT_EQ(asked.size(), row.attempts) << row.what;
        for (size_t i = 0; i < asked.size(); ++i)
            EXPECT_EQ(asked[i], expected[i]) << row.what << ", attempt " << i + 1;
        if (row.message)
            EXPECT_EQ(messages,
                      QStringList{QStringLiteral("Lo siento, no se encontró tu navegador")})
                << row.what;
        else
            EXPECT_TRUE(messages.isEmpty()) << row.what;
        EXPECT_TRUE(box->isVisible()) << row.what;
    }
}

// The web label clicked as a user clicks it, the pointer moving onto it first (the label then
// holds the mouse grab), on a machine without a browser: the box that says so gets the click on
// its button, and the label, which the pointer left for the box, shows its off look afterwards.
TEST_F(AboutVardoTest, TheNoBrowserBoxTakesTheClickOnItsButton)
{
    ASSERT_TRUE(ShowAndActivate(box));
    TScopedShell shell([](const TShellRequest&) { return SE_ERR_FNF; });
    TJLabel* label = box->JLabel1;
    int clicks = 0;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        auto* message = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (message == nullptr || !message->isVisible())
            return;
        if (clicks == 5) { // a click that does not get through: close it the other way
            message->reject();
            return;
        }
        QAbstractButton* ok = message->button(QMessageBox::Ok);
        ++clicks;
        QTest::mouseMove(ok);
        QTest::mouseClick(ok, Qt::LeftButton);
    });
    user.start(20);

    const QPoint on(10, 5);
    QTest::mouseMove(label, on);
    ASSERT_TRUE(WaitFor([&] { return label->Hovering(); }));
    QTest::mousePress(label, Qt::LeftButton, {}, on);
    QTest::mouseRelease(label, Qt::LeftButton, {}, on);

    EXPECT_EQ(clicks, 1) << "the box's button did not take the click";
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
    EXPECT_FALSE(label->Hovering());
    EXPECT_EQ(label->Color(), Slate);
    EXPECT_EQ(label->FontColor(), clLime);
}

TEST(AboutVardoMainWindow, ClosingTheMainWindowEndsTheProgramWhileTheDialogsAreShown)
{
    QWidget mainWindow;
    auto* about = new TAboutBox(&mainWindow);
    auto* info = new TAboutBox1(&mainWindow);
    ShowAndWait(&mainWindow);
    ASSERT_TRUE(ShowAndActivate(about));
    ASSERT_TRUE(ShowAndActivate(info));

    // The loop ends with 0 only when closing the main window quits it; the second timer is a
    // deadline that ends it with 1 instead.
    bool shownAtClose = false;
    QTimer::singleShot(0, &mainWindow, [&] {
        shownAtClose = about->isVisible() && info->isVisible();
        mainWindow.close();
    });
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    deadline.start(5000);
    const bool quitting = QGuiApplication::quitOnLastWindowClosed();
    QGuiApplication::setQuitOnLastWindowClosed(true);
    EXPECT_EQ(QApplication::exec(), 0);
    QGuiApplication::setQuitOnLastWindowClosed(quitting);
    EXPECT_TRUE(shownAtClose);
}
