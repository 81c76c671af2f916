#pragma once
// A widget that keeps what was drawn on it.
//
// The widget owns a backing image and a canvas on it. Drawing through Canvas() outside a paint
// goes into the image at once and stays there until the control repaints that area;
// Invalidate() marks an area whose content the control's own Paint() renders again at the next
// paint event. Showing renders everything at once (so what is drawn right after showing stays
// on top); resizing invalidates everything. Only paint events put pixels on screen. An optional
// sunken border of BorderWidth() pixels lies outside the canvas: canvas coordinates are client
// coordinates.
//
// Coordinates are logical pixels. The backing image has the screen's device pixel ratio, so
// what the canvas draws is as sharp as the screen allows and lies where it lies at a ratio of 1
// (TCanvas says how edges meet device pixels). The image is put on screen pixel for pixel from
// the device pixel nearest to the client area's top left corner (halves up). On a screen of
// another ratio the image is made again at that ratio and rendered whole.

#include "platform/Graphics.h"

#include <QWidget>

class TSurfaceWidget : public QWidget
{
    Q_OBJECT
public:
    explicit TSurfaceWidget(QWidget* parent = nullptr);

    TCanvas* Canvas() { return &FCanvas; }
    void Invalidate();
    void Invalidate(const TRect& clientRect);
    TRect ClientRect() const;
    int BorderWidth() const { return FBorder; }
    QPoint ClientFromWidget(QPoint p) const { return p - QPoint(FBorder, FBorder); }
    // The backing image: what the control shows in its client area, at the screen's ratio.
    const QImage& Surface() const;

protected:
    // Renders the control through Canvas(); the canvas is clipped to the area being rendered.
    virtual void Paint() = 0;
    void SetBorderWidth(int width);

    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // The backing image is made when it is first needed (shown, painted or drawn on), so that
    // controls that are never shown cost no image memory.
    void EnsureImage();
    void ResizeImage();
    // Renders the invalidated area into the backing image.
    void RenderPending();

    QImage FImage;
    QRegion FDirty;
    TCanvas FCanvas{&FImage};
    int FBorder = 0;
};
