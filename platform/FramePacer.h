#pragma once
// Repaints of a window at the display's pace.
//
// A widget's update() is gathered by the toolkit until the window's next update request, which
// paints every dirty widget and puts the result on screen. A 1 ms timer that changes something
// at every tick makes that happen a thousand times a second, though a screen shows some sixty
// frames. A TFramePacer on a top-level window lets one update request through and holds back
// the ones that follow within the same display frame; a single-shot timer at the end of the
// frame then paints everything that became dirty meanwhile, once. What the widgets hold (texts,
// drawing surfaces, states) changes at once as before: only the painting on screen waits.

#include <QObject>
#include <QTimer>

class QWidget;

class TFramePacer : public QObject
{
    Q_OBJECT
public:
    // Paces the repaints of `window` (a top-level widget); the pacer belongs to the window.
    explicit TFramePacer(QWidget* window);
    Q_DISABLE_COPY_MOVE(TFramePacer)

    // The length of a display frame of the window's screen, in milliseconds.
    int FrameInterval() const;
    // Whether a repaint is being held back for the end of the frame.
    bool Pending() const { return FFlush.isActive(); }
    // Paints what is held back now (for instance before reading the screen).
    void Flush();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* FWindow;
    qint64 FLastPaintMs = -1; // the monotonic clock at the last paint let through; -1: none yet
    QTimer FFlush;
    bool FFlushing = false;
};
