#pragma once
// What the two information dialogs share: a fixed dialog window that opens at the centre of the
// screen, shown without being modal; and the picture control their artwork sits in.

#include <QDialog>
#include <QImage>
#include <QRect>
#include <QSvgRenderer>
#include <QWidget>

#include <cstdint>
#include <future>
#include <memory>

class QPushButton;

class TDialogForm : public QDialog
{
    Q_OBJECT
public:
    // How the dialog stands to the main window: kept over it (transient for it), or a window of
    // its own that the main window can be brought in front of, and back.
    enum class TStacking : std::uint8_t
    {
        OverMainWindow,
        Free
    };

    // A hidden dialog with a fixed client area, no minimise or maximise, placed at the centre of
    // `mainWindow`'s screen (`mainWindow` may be null). The main window owns it either way, and it
    // never keeps the program running: closing the main window ends the program while the dialog
    // is shown.
    TDialogForm(QWidget* mainWindow, const QString& name, const QString& caption, QSize clientSize,
                TStacking stacking);
    Q_DISABLE_COPY_MOVE(TDialogForm)

    // Shows the dialog without making it modal, raises it and makes it the active window. The
    // dialog keeps its place, its texts and its focus from one showing to the next.
    void ShowDialog();

    // Starts rendering the dialog's pictures for its screen on the application's thread pool:
    // for a dialog shown right after start.
    void PreparePictures();

    // The OK button's click: hides the dialog with the result OK. The dialog object stays.
    void OKButtonClick();

protected:
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;

    // The form's OK button: the default button (Enter presses it unless the focused control
    // takes Enter itself); its click runs OKButtonClick.
    QPushButton* MakeOKButton(const QRect& geometry);

private:
    // Centres the window, frame included where the frame is known, on the main window's screen.
    void CentreOnScreen();

    QWidget* FMainWindow;
    bool FPlaced = false;
    bool FAwaitingFrame = false; // shown, the frame not known yet
};

// A picture on a form, drawn from vector artwork so that it stays sharp at any screen scale:
// at its own size at the top left of the control, or stretched over the whole control.
class TImage : public QWidget
{
    Q_OBJECT
public:
    TImage(QWidget* parent, const QString& name, const QRect& geometry, const QString& resource,
           bool stretch);
    ~TImage() override;
    Q_DISABLE_COPY_MOVE(TImage)

    // Starts reading and rendering the picture for a screen of `ratio` on a thread of the
    // application's pool, so that it is ready when the control is first painted.
    void Prepare(qreal ratio);

    QSize PictureSize() const { return Picture().defaultSize(); }
    bool Stretch() const { return FStretch; }

    QSize sizeHint() const override { return size(); }
    QSize minimumSizeHint() const override { return size(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect Target() const;
    // The picture, read from its resource when first needed: a dialog made hidden at start
    // reads none.
    QSvgRenderer& Picture() const;
    // Takes what Prepare() rendered, waiting for it if need be.
    void TakeRendering();

    QString FResource;
    mutable std::unique_ptr<QSvgRenderer> FPicture;
    bool FStretch;
    // The picture being rendered by Prepare().
    std::future<QImage> FRendering;
    // The picture rendered at the device pixel ratio it was last painted at.
    QImage FCache;
};
