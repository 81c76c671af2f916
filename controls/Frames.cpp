#include "Frames.h"

#include "core/ErrorReport.h"

#include <QPointer>

TPlayFrame::TPlayFrame(QWidget* parent) : TSurfaceWidget(parent)
{
    FitToFrame();
    UpdateAccessibleName();
}

void TPlayFrame::SetImagenBMP(const TBitmap& picture)
{
    if (&picture == &FImagenBMP)
        return;
    FImagenBMP.Assign(picture);
    // A new picture is one frame until NFrames says otherwise.
    FNFrames = 1;
    FFrameWidth = FImagenBMP.Width();
    FitToFrame();
    Invalidate();
    SetFrameActual(1);
}

void TPlayFrame::SetBlinkRate(std::uint16_t milliseconds)
{
    if (milliseconds == FBlinkRate)
        return;
    FBlinkRate = milliseconds;
    if (FBlinkTimer)
        FBlinkTimer->setInterval(FBlinkRate);
}

void TPlayFrame::SetLedStatus(TLedStatus status)
{
    if (status == FLedStatus)
        return;
    if (FBlinkTimer) {
        // This may run inside the timer's own tick (the end of a one-pass run): stop it now,
        // free it once that tick has been handled.
        FBlinkTimer->stop();
        FBlinkTimer->deleteLater();
        FBlinkTimer = nullptr;
    }
    FLedStatus = status;
    if (FLedStatus == lsBlink) {
        FBlinkTimer = new QTimer(this);
        FBlinkTimer->setInterval(FBlinkRate);
        connect(FBlinkTimer, &QTimer::timeout, this,
                [this] { Guard(this, [this] { StepFrame(); }); });
        FBlinkTimer->start();
    }
    UpdateAccessibleName();
    Invalidate();
}

void TPlayFrame::SetNFrames(std::uint16_t n)
{
    // The frame count divides the picture's width: 0 frames is no strip at all.
    if (n == FNFrames || n == 0)
        return;
    FNFrames = n;
    FFrameWidth = FImagenBMP.Width() / FNFrames;
    FitToFrame();
    Invalidate();
}

void TPlayFrame::SetFrameActual(std::uint16_t frame)
{
    if (frame == FFrameActual)
        return;
    FFrameActual = frame;
    DrawFrame();
    Invalidate();
    UpdateAccessibleName();
}

void TPlayFrame::SetSentido(bool forwards)
{
    if (forwards == FSentido)
        return;
    FSentido = forwards;
    Invalidate();
}

void TPlayFrame::SetFrameStop(bool stop)
{
    FFrameStop = stop;
}

void TPlayFrame::SetLabel(const QString& label)
{
    if (label == FLabel)
        return;
    FLabel = label;
    UpdateAccessibleName();
}

void TPlayFrame::UpdateAccessibleName()
{
    const QString state = FLedStatus == lsBlink ? QStringLiteral("intermitente")
                          : FFrameActual == 1   ? QStringLiteral("encendida")
                                                : QStringLiteral("apagada");
    const QString name = FLabel.isEmpty() ? state : FLabel + QStringLiteral(": ") + state;
    // The clock sets the lamps at every tick: only a new name is set, and so announced.
    if (name != accessibleName())
        setAccessibleName(name);
}

void TPlayFrame::Paint()
{
    DrawFrame();
}

void TPlayFrame::resizeEvent(QResizeEvent* event)
{
    TSurfaceWidget::resizeEvent(event);
    if (size() != FrameSize())
        FitToFrame();
}

void TPlayFrame::DrawFrame()
{
    TCanvas* canvas = Canvas();
    const TRect dest = Rect(0, 0, FFrameWidth, FImagenBMP.Height());
    if (FFrameActual < 1 || FFrameActual > FNFrames) {
        // Not a frame of the strip: show the background rather than whatever lies beside the
        // frames (or beyond the picture).
        canvas->Brush.Color = FromQColor(palette().color(backgroundRole()));
        canvas->FillRect(dest);
        return;
    }
    const int left = FFrameActual * FFrameWidth - FFrameWidth;
    canvas->CopyRect(dest, FImagenBMP.Image(), Rect(left, 0, left + FFrameWidth, dest.Bottom));
}

void TPlayFrame::StepFrame()
{
    bool passEnded = false;
    if (FSentido) {
        const std::uint16_t n = FFrameActual + 1;
        passEnded = n > FNFrames;
        SetFrameActual(passEnded ? 1 : n);
        if (passEnded && FFrameStop)
            SetFrameActual(FNFrames);
    } else {
        const std::uint16_t n = FFrameActual - 1;
        passEnded = n < 1;
        SetFrameActual(passEnded ? FNFrames : n);
        if (passEnded && FFrameStop)
            SetFrameActual(1);
    }
    if (passEnded && FFrameStop) {
        SetLedStatus(lsOff);
        SetFrameStop(false);
        // OnStopped may free the control.
        const QPointer<TPlayFrame> alive(this);
        DoStopped();
        if (!alive)
            return;
    }
    DrawFrame();
}

void TPlayFrame::DoStopped()
{
    if (OnStopped)
        OnStopped(this);
}
