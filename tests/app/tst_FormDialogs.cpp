// The window's two dialogs: the course information once right after start, the about dialog
// from the question-mark button.

#include "tests/app/FormFixture.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <functional>
#include <utility>

namespace {

// The window as the program entry makes it: the dialogs made hidden right after it.
std::unique_ptr<RecordingForm> MakeFormWithDialogs()
{
    auto form = std::make_unique<RecordingForm>();
    form->AboutBox = new TAboutBox(form.get());
    form->AboutBox1 = new TAboutBox1(form.get());
    ShowAndWait(form.get());
    return form;
}

// Calls `seen` with each event `watched` receives.
class TEventSpy : public QObject
{
public:
    TEventSpy(QObject* watched, std::function<void(QEvent*)> seen) : FSeen(std::move(seen))
    {
        watched->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override
    {
        FSeen(event);
        return false;
    }

private:
    std::function<void(QEvent*)> FSeen;
};

int VisibleAboutBoxes()
{
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        n += qobject_cast<TAboutBox*>(w) != nullptr && w->isVisible();
    return n;
}

TEST(FormDialogs, InformationDialogOpensOnceRightAfterStart)
{
    auto form = MakeFormWithDialogs();
    ASSERT_TRUE(WaitFor([&] { return form->AboutBox1->isVisible(); }));
    EXPECT_FALSE(form->Timer1->isActive());
    EXPECT_FALSE(form->AboutBox->isVisible());
    QTest::mouseClick(form->AboutBox1->OKButton, Qt::LeftButton);
    EXPECT_FALSE(form->AboutBox1->isVisible());
    // However long the program runs, it does not come back by itself.
    QApplication::processEvents();
    EXPECT_FALSE(form->AboutBox1->isVisible());
    EXPECT_FALSE(form->Timer1->isActive());
}

// The window shows first and the dialog opens over it: the window has painted when the dialog
// shows.
TEST(FormDialogs, InformationDialogOpensOverThePaintedWindow)
{
    RecordingForm form;
    form.AboutBox1 = new TAboutBox1(&form);
    int paints = 0;
    int paintsWhenShown = -1;
    TEventSpy formPaints(&form, [&](QEvent* e) { paints += e->type() == QEvent::Paint; });
    TEventSpy dialogShows(form.AboutBox1, [&](QEvent* e) {
        if (e->type() == QEvent::Show && paintsWhenShown < 0)
            paintsWhenShown = paints;
    });
    form.show();
    ASSERT_TRUE(WaitFor([&] { return form.AboutBox1->isVisible(); }));
    EXPECT_GT(paintsWhenShown, 0);
}

TEST(FormDialogs, QuestionMarkShowsOneAboutDialogHoweverOftenPressed)
{
    auto form = MakeFormWithDialogs();
    for (int press = 0; press < 3; ++press) {
        QTest::mouseClick(form->BitBtn1, Qt::LeftButton);
        ASSERT_TRUE(WaitFor([&] { return form->AboutBox->isVisible(); })) << press;
        EXPECT_EQ(VisibleAboutBoxes(), 1) << press;
    }
    EXPECT_FALSE(form->AboutBox->isModal());
}

TEST(FormDialogs, WindowWithoutDialogsStopsItsTimerQuietly)
{
    auto form = MakeForm(10, 0);
    ASSERT_TRUE(WaitFor([&] { return !form->Timer1->isActive(); }));
    QTest::mouseClick(form->BitBtn1, Qt::LeftButton); // nothing to show, nothing to fail
    EXPECT_EQ(VisibleAboutBoxes(), 0);
}

} // namespace
