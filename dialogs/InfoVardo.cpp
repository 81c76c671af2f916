#include "InfoVardo.h"

#include "platform/Colors.h"
#include "platform/Fonts.h"
#include "platform/StdControls.h"

#include <QPushButton>

#include <algorithm>

namespace {

constexpr QSize ClientSize(373, 226);

const QString FontName = QStringLiteral("MS Sans Serif");

// A label that wraps its text within its width and grows downwards as the text needs.
TLabel* WrappedLabel(QWidget* parent, const QString& name, const QRect& geometry,
                     const QString& text, TColor color, const QFont& font)
{
    auto* label = new TLabel(parent, name, geometry, text, color, font);
    label->setWordWrap(true);
    label->setGeometry(
        QRect(geometry.topLeft(),
              QSize(geometry.width(),
                    std::max(geometry.height(), label->heightForWidth(geometry.width())))));
    return label;
}

} // namespace

TAboutBox1::TAboutBox1(QWidget* mainWindow)
    : TDialogForm(mainWindow, QStringLiteral("AboutBox1"), QStringLiteral("Prácticas de control"),
                  ClientSize, TStacking::OverMainWindow)
{
    SetBackgroundColor(this, clBtnFace);

    Panel1 = new TPanel(this, QStringLiteral("Panel1"));
    Panel1->setGeometry(8, 16, 353, 169);
    Panel1->SetColor(clBtnFace);
    Panel1->SetBevels(bvRaised, bvLowered);

    ProgramIcon = new TImage(Panel1, QStringLiteral("ProgramIcon"), QRect(8, 8, 97, 81),
                             QStringLiteral(":/Connector.svg"), true);
    ProductName =
        new TLabel(Panel1, QStringLiteral("ProductName"), QRect(120, 16, 212, 20),
                   QStringLiteral("Control de Brelom "), clTeal, MakeFont(FontName, 16, fsBold));
    Version = new TLabel(Panel1, QStringLiteral("Version"), QRect(176, 48, 53, 13),
                         QStringLiteral("Version 1.0"), clWindowText, DefaultFont());
    Subject = new TLabel(Panel1, QStringLiteral("Subject"), QRect(48, 104, 255, 16),
                         QStringLiteral("Asignatura: Diseño y control por ordenador"), clNavy,
                         MakeFont(FontName, 13));
    Comments =
        WrappedLabel(Panel1, QStringLiteral("Comments"), QRect(112, 120, 124, 16),
                     QStringLiteral("1º de Bachillerato"), clNavy, MakeFont(FontName, 13, fsBold));
    Label1 = WrappedLabel(Panel1, QStringLiteral("Label1"), QRect(72, 144, 225, 17),
                          QStringLiteral("IES de ejemplo · curso 2024-2025"), clMaroon,
                          MakeFont(FontName, 13, fsBold));

    OKButton = MakeOKButton(QRect(127, 192, 122, 29));
}
