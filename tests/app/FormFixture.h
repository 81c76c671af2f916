#pragma once
// A main window for tests: started at a chosen time of day, recording every WritePort call.

#include "app/UnitVardo.h"
#include "core/Clock.h"
#include "tests/support/TestSupport.h"

#include <QTabBar>
#include <QTest>

#include <memory>
#include <vector>

class RecordingForm : public TFormVardo
{
public:
    std::vector<int> Written;
    void WritePort(std::uint8_t value) override { Written.push_back(value); }
};

// Builds the window with the local time of day fixed at hour:minute.
inline std::unique_ptr<RecordingForm> MakeForm(int hour, int minute)
{
    std::unique_ptr<RecordingForm> form;
    {
        const TScopedLocalTimeOfDay time([=] { return TTimeOfDay{hour, minute}; });
        form = std::make_unique<RecordingForm>();
    }
    ShowAndWait(form.get());
    return form;
}

inline QPoint CellMid(TBSSGrid* g, int c, int r)
{
    const TRect rc = g->CellRect(c, r);
    return QPoint(rc.Left + rc.Width() / 2 + g->BorderWidth(),
                  rc.Top + rc.Height() / 2 + g->BorderWidth());
}

inline TColor CellColour(TBSSGrid* g, int c, int r)
{
    const QPoint p = CellMid(g, c, r);
    return PixelOf(Grab(g), p.x(), p.y());
}

// The middle of the pointer ellipse in a cell: the ellipse is 11 x 9 px, 12 px in from the
// cell's left and 2 px down from its top.
inline bool PointerShown(TBSSGrid* g, int c, int r)
{
    const TRect rc = g->CellRect(c, r);
    return PixelOf(Grab(g), rc.Left + 17 + g->BorderWidth(), rc.Top + 6 + g->BorderWidth()) ==
           clYellow;
}

// Clicks the tab of page `index` as a user does (press and release over the tab).
inline void ClickTab(TFormVardo* form, int index)
{
    QTabBar* bar = form->PageControl1->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->tabRect(index).center());
}
