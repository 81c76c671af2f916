#pragma once
// What the dialog tests share: a stand-in main window the dialogs are transient for, keys typed
// into a dialog's window as the window system delivers them, and pixel points of the pictures.

#include "platform/Fonts.h"
#include "platform/StdControls.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QDialog>
#include <QPoint>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

// A dialog as the program creates it: hidden, not modal, of a fixed size without minimise or
// maximise, named and titled, with the main window as its parent.
inline void ExpectHiddenFixedDialog(QDialog* dialog, const QWidget* parent, const char* name,
                                    const QString& title, QSize size)
{
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_FALSE(dialog->isModal());
    EXPECT_EQ(dialog->objectName(), QLatin1String(name));
    EXPECT_EQ(dialog->windowTitle(), title);
    EXPECT_EQ(dialog->size(), size);
    EXPECT_EQ(dialog->minimumSize(), dialog->maximumSize());
    EXPECT_FALSE(dialog->windowFlags() & Qt::WindowMinMaxButtonsHint);
    EXPECT_EQ(dialog->parentWidget(), parent);
}

// A key typed while `dialog`'s window has the keyboard: it goes to the focused control.
inline void TypeKey(QWidget* dialog, Qt::Key key)
{
    QTest::keyClick(dialog->windowHandle(), key);
}

// Shows the dialog through its own operation and waits until it is the active window.
template <class Dialog> bool ShowAndActivate(Dialog* dialog)
{
    dialog->ShowDialog();
    return QTest::qWaitForWindowExposed(dialog) && QTest::qWaitForWindowActive(dialog);
}

// A window the tests activate to take the focus away from a dialog.
inline bool ActivateOther(QWidget* other)
{
    other->show();
    other->activateWindow();
    return QTest::qWaitForWindowActive(other);
}

// A pixel of a picture and the colour it must have, or of the ground just beside it.
struct PicturePoint
{
    const char* what;
    QPoint where; // client coordinates of the dialog
    TColor colour;
};

inline void ExpectPixels(QWidget* dialog, std::initializer_list<PicturePoint> points)
{
    const QImage shot = Grab(dialog);
    ASSERT_EQ(shot.size(), dialog->size());
    for (const PicturePoint& p : points)
        EXPECT_EQ(PixelOf(shot, p.where.x(), p.where.y()), p.colour)
            << p.what << " at " << p.where.x() << "," << p.where.y();
}

// A label's text, colour, character height and style.
struct LabelRow
{
    TLabel* label;
    QString text;
    TColor colour;
    int pixels;
    unsigned style;
};

inline void ExpectLabels(std::initializer_list<LabelRow> rows)
{
    for (const LabelRow& row : rows) {
        const std::string name = row.label->objectName().toStdString();
        EXPECT_EQ(row.label->text(), row.text) << name;
        EXPECT_EQ(FromQColor(row.label->palette().color(QPalette::WindowText)), row.colour) << name;
        EXPECT_EQ(row.label->font().pixelSize(), row.pixels) << name;
        EXPECT_EQ(row.label->font().bold(), bool(row.style & fsBold)) << name;
        EXPECT_EQ(row.label->font().underline(), bool(row.style & fsUnderline)) << name;
    }
}
