#pragma once
// TPlayFrame: one frame of a horizontal picture strip, a lamp for instance.
//
// ImagenBMP is cut into NFrames frames of equal width (picture width div NFrames; leftover
// columns on the right are never shown) and FrameActual, counted from 1, picks the frame on
// show. The control is always exactly one frame in size: the setters resize it, and any other
// size is undone as soon as the resize reaches the control.
//
// With LedStatus lsBlink a timer of the control (BlinkTimer) steps through the frames every
// BlinkRate milliseconds, forwards or backwards (Sentido), endlessly or, with FrameStop set,
// for one pass: the pass ends on the last frame of its direction, turns LedStatus to lsOff,
// clears FrameStop and fires OnStopped once.
//
// Values the strip cannot show are made safe: NFrames 0 is refused (nothing changes), and a
// FrameActual of 0 or above NFrames shows the control's background colour, never pixels from
// beyond the picture.
//
// A lamp strip holds the lit lamp in frame 1. The control's accessible name says what it shows,
// after its Label: "D3: encendida" on frame 1, "D3: intermitente" while LedStatus is lsBlink,
// "D3: apagada" otherwise (without a Label, the state alone). Each change of name is announced
// to assistive technology (Qt sends NameChanged).

#include "platform/Surface.h"

#include <QTimer>

#include <cstdint>
#include <functional>

enum TLedStatus : std::uint8_t
{
    lsOff = 0,
    lsOn = 1,
    lsBlink = 2
};

using TStopped = std::function<void(QObject* Sender)>;

class TPlayFrame : public TSurfaceWidget
{
    Q_OBJECT
public:
    // A 60 x 60 control showing frame 1 of an empty (white) 60 x 60 picture, without timer.
    explicit TPlayFrame(QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(TPlayFrame)

    const TBitmap& ImagenBMP() const { return FImagenBMP; }
    // Copies the picture and makes it a strip of one frame: NFrames 1, FrameActual 1, the
    // control the picture's size; invalidates. Giving the control its own picture does nothing.
    void SetImagenBMP(const TBitmap& picture);

    std::uint16_t BlinkRate() const { return FBlinkRate; }
    // Also changes the period of a running BlinkTimer at once.
    void SetBlinkRate(std::uint16_t milliseconds);

    TLedStatus LedStatus() const { return FLedStatus; }
    // Releases BlinkTimer when there is one; lsBlink creates and starts a new one. Invalidates.
    void SetLedStatus(TLedStatus status);

    std::uint16_t NFrames() const { return FNFrames; }
    // Resizes the control to the new frame width and invalidates; FrameActual is left as it is.
    // 0 is refused: the control stays as it was.
    void SetNFrames(std::uint16_t n);

    std::uint16_t FrameActual() const { return FFrameActual; }
    // Draws the new frame at once, then invalidates. No range check (see above).
    void SetFrameActual(std::uint16_t frame);

    bool Sentido() const { return FSentido; }
    // True steps to higher frame numbers. Invalidates.
    void SetSentido(bool forwards);

    bool FrameStop() const { return FFrameStop; }
    void SetFrameStop(bool stop);

    // The name a screen reader says before the lamp's state, an output's "D3" for instance.
    QString Label() const { return FLabel; }
    void SetLabel(const QString& label);

    int FrameWidth() const { return FFrameWidth; }
    // The stepping timer: there is one exactly while LedStatus is lsBlink.
    QTimer* BlinkTimer() const { return FBlinkTimer; }

    TStopped OnStopped;

    QSize sizeHint() const override { return FrameSize(); }
    QSize minimumSizeHint() const override { return FrameSize(); }

protected:
    void Paint() override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QSize FrameSize() const { return QSize(FFrameWidth, FImagenBMP.Height()); }
    void FitToFrame() { resize(FrameSize()); }
    // Puts FrameActual's part of the picture on the canvas.
    void DrawFrame();
    void StepFrame();
    void DoStopped();
    void UpdateAccessibleName();

    TBitmap FImagenBMP{60, 60};
    std::uint16_t FBlinkRate = 1000;
    TLedStatus FLedStatus = lsOff;
    std::uint16_t FNFrames = 1;
    std::uint16_t FFrameActual = 1;
    bool FSentido = true;
    bool FFrameStop = false;
    int FFrameWidth = 60;
    QTimer* FBlinkTimer = nullptr;
    QString FLabel;
};
