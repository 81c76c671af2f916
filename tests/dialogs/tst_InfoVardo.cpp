// TAboutBox1: the course information dialog: its size and texts, its picture, Enter and OK.

#include "dialogs/InfoVardo.h"
#include "platform/StdControls.h"
#include "tests/dialogs/DialogFixture.h"

#include <QPushButton>

namespace {

struct InfoVardoTest : ::testing::Test
{
    QWidget mainWindow;
    TAboutBox1* box = new TAboutBox1(&mainWindow);
};

} // namespace

TEST_F(InfoVardoTest, AHiddenFixedDialogOverTheMainWindow)
{
    ExpectHiddenFixedDialog(box, &mainWindow, "AboutBox1", QStringLiteral("Prácticas de control"),
                            QSize(373, 226));
    EXPECT_EQ(box->Panel1->geometry(), QRect(8, 16, 353, 169));
    EXPECT_EQ(box->OKButton->geometry(), QRect(127, 192, 122, 29));
}

TEST_F(InfoVardoTest, TextsInTheirColours)
{
    ExpectLabels({
        {box->ProductName, QStringLiteral("Control de Brelom "), clTeal, 16, fsBold},
        {box->Version, QStringLiteral("Version 1.0"), FromQColor(ToQColor(clWindowText)), 11,
         fsNone},
        {box->Subject, QStringLiteral("Asignatura: Diseño y control por ordenador"), clNavy, 13,
         fsNone},
        {box->Comments, QStringLiteral("1º de Bachillerato"), clNavy, 13, fsBold},
    });
    EXPECT_TRUE(box->Comments->wordWrap());
    EXPECT_TRUE(box->Label1->wordWrap());
    EXPECT_EQ(FromQColor(box->Label1->palette().color(QPalette::WindowText)), clMaroon);
    EXPECT_FALSE(box->Label1->text().isEmpty());
}

TEST_F(InfoVardoTest, TheConnectorPictureStretchedInItsPlace)
{
    ShowAndWait(box);
    const TColor face = FromQColor(ToQColor(clBtnFace));
    // The icon lies at 8, 8 of the panel at 8, 16, and squeezes the 165 x 135 close-up into
    // 97 x 81: the first light and the connector's black insulator land here.
    ExpectPixels(box, {
                          {"first green light", QPoint(33, 41), RGBColor(0, 255, 0)},
                          {"insulator between the pin rows", QPoint(64, 78), RGBColor(32, 32, 32)},
                          {"form outside the panel", QPoint(3, 5), face},
                          {"panel beside the picture", QPoint(16 + 99, 24 + 60), face},
                      });
}

TEST_F(InfoVardoTest, EnterOrOKHidesItAndItComesBackTheSame)
{
    const auto ok = [&] { QTest::mouseClick(box->OKButton, Qt::LeftButton); };
    const auto enter = [&] { TypeKey(box, Qt::Key_Return); };
    const auto keypadEnter = [&] { TypeKey(box, Qt::Key_Enter); };
    const std::pair<const char*, std::function<void()>> ways[] = {
        {"OK clicked", ok}, {"Enter", enter}, {"Enter of the keypad", keypadEnter}};
    for (const auto& [what, hide] : ways) {
        ASSERT_TRUE(ShowAndActivate(box)) << what;
        EXPECT_TRUE(box->OKButton->isDefault()) << what;
        hide();
        EXPECT_FALSE(box->isVisible()) << what;
        EXPECT_EQ(box->result(), QDialog::Accepted) << what;
    }
    EXPECT_EQ(mainWindow.findChildren<TAboutBox1*>().size(), 1);
}
