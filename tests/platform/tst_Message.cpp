// The plain message box: the text over an OK button, modal until OK; a scoped shower instead.

#include "platform/Message.h"
#include "tests/support/TestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

TEST(Message, TheHostsBoxShowsTheTextAndReturnsOnOK)
{
    QString shownText;
    QString shownTitle;
    int buttons = 0;
    // The box is modal: what answers it has to run from the box's own event loop.
    QTimer answer;
    answer.setInterval(0);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible())
            return;
        answer.stop();
        shownText = box->text();
        shownTitle = box->windowTitle();
        buttons = int(box->buttons().size());
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    });
    answer.start();
    ShowMessage(QStringLiteral("Lo siento, no se encontró tu navegador"));
    EXPECT_FALSE(answer.isActive());
    EXPECT_EQ(shownText, QStringLiteral("Lo siento, no se encontró tu navegador"));
    EXPECT_EQ(shownTitle, QApplication::applicationName());
    EXPECT_EQ(buttons, 1);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(Message, AScopedShowerTakesTheMessagesInstead)
{
    QStringList shown;
    {
        TScopedMessageShower shower([&](const QString& text) { shown.append(text); });
        ShowMessage(QStringLiteral("uno"));
        ShowMessage(QStringLiteral("dos"));
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
    EXPECT_EQ(shown, (QStringList{QStringLiteral("uno"), QStringLiteral("dos")}));
}
