#include "DialogForm.h"

#include "core/ErrorReport.h"
#include "core/PoolTask.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QWindow>

TDialogForm::TDialogForm(QWidget* mainWindow, const QString& name, const QString& caption,
                         QSize clientSize, TStacking stacking)
    // A window with a parent widget is made transient for the parent's window, which a window
    // manager keeps it above: a free dialog has no parent widget, and goes with the main window.
    : QDialog(stacking == TStacking::OverMainWindow ? mainWindow : nullptr,
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                  Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      FMainWindow(mainWindow)
{
    if (stacking == TStacking::Free && mainWindow != nullptr)
        connect(mainWindow, &QObject::destroyed, this, [this] { delete this; });
    setObjectName(name);
    setWindowTitle(caption);
    setFixedSize(clientSize);
    setModal(false);
    setSizeGripEnabled(false);
    // A dialog is never what keeps the program alive; with a main window it is also a secondary
    // window of it, which Qt leaves out of the last-window-closed count anyway.
    setAttribute(Qt::WA_QuitOnClose, false);

    // Placed here already, so that QDialog leaves it there instead of centring it over the main
    // window; the first showing, with the frame known, places it exactly.
    CentreOnScreen();
}

void TDialogForm::CentreOnScreen()
{
    const QScreen* screen = FMainWindow != nullptr ? FMainWindow->screen() : nullptr;
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    const QMargins frame = windowHandle() != nullptr ? windowHandle()->frameMargins() : QMargins();
    QRect place(QPoint(), size().grownBy(frame));
    place.moveCenter(screen->availableGeometry().center());
    move(place.topLeft());
}

void TDialogForm::showEvent(QShowEvent* event)
{
    if (!FPlaced) {
        FPlaced = true;
        CentreOnScreen();
        // A window manager frames the window only once it is shown: centred again then.
        FAwaitingFrame = windowHandle() != nullptr && windowHandle()->frameMargins().isNull();
    }
    QDialog::showEvent(event);
}

bool TDialogForm::event(QEvent* event)
{
    const bool handled = QDialog::event(event);
    if (FAwaitingFrame && (event->type() == QEvent::Move || event->type() == QEvent::Expose) &&
        windowHandle() != nullptr && !windowHandle()->frameMargins().isNull()) {
        FAwaitingFrame = false;
        CentreOnScreen();
    }
    return handled;
}

void TDialogForm::ShowDialog()
{
    show();
    raise();
    activateWindow();
}

void TDialogForm::PreparePictures()
{
    for (TImage* image : findChildren<TImage*>())
        image->Prepare(image->devicePixelRatioF());
}

void TDialogForm::OKButtonClick()
{
    accept();
}

QPushButton* TDialogForm::MakeOKButton(const QRect& geometry)
{
    auto* button = new QPushButton(QStringLiteral("OK"), this);
    button->setObjectName(QStringLiteral("OKButton"));
    button->setGeometry(geometry);
    button->setDefault(true);
    connect(button, &QPushButton::clicked, this,
            [this] { Guard(this, [this] { OKButtonClick(); }); });
    return button;
}

namespace {

// `picture` rendered into `pixels` device pixels, for a screen of `ratio`.
QImage Render(QSvgRenderer& picture, QSize pixels, qreal ratio)
{
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter render(&image);
    picture.render(&render, QRectF(QPointF(), QSizeF(pixels)));
    render.end();
    image.setDevicePixelRatio(ratio);
    return image;
}

} // namespace

TImage::TImage(QWidget* parent, const QString& name, const QRect& geometry, const QString& resource,
               bool stretch)
    : QWidget(parent), FResource(resource), FStretch(stretch)
{
    setObjectName(name);
    setGeometry(geometry);
}

TImage::~TImage()
{
    if (FRendering.valid())
        FRendering.wait();
}

void TImage::Prepare(qreal ratio)
{
    if (FRendering.valid() || !FCache.isNull())
        return;
    // A stretched picture fills the control; another one has its own size, known once read.
    const QSize stretched = FStretch ? size() : QSize();
    FRendering = RunOnPool([resource = FResource, stretched, ratio] {
        QSvgRenderer picture(resource);
        const QSize target = stretched.isValid() ? stretched : picture.defaultSize();
        return Render(picture, (QSizeF(target) * ratio).toSize(), ratio);
    });
}

void TImage::TakeRendering()
{
    if (FRendering.valid())
        FCache = FRendering.get();
}

QSvgRenderer& TImage::Picture() const
{
    if (!FPicture)
        FPicture = std::make_unique<QSvgRenderer>(FResource);
    return *FPicture;
}

QRect TImage::Target() const
{
    return FStretch ? rect() : QRect(QPoint(), PictureSize());
}

void TImage::paintEvent(QPaintEvent*)
{
    TakeRendering();
    const qreal ratio = devicePixelRatioF();
    const QRect target = Target();
    const QSize pixels = (QSizeF(target.size()) * ratio).toSize();
    if (FCache.size() != pixels)
        FCache = Render(Picture(), pixels, ratio);
    QPainter painter(this);
    painter.drawImage(target.topLeft(), FCache);
}
