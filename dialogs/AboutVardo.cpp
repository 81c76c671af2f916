#include "AboutVardo.h"

#include "controls/JLabel.h"
#include "platform/Colors.h"
#include "platform/Fonts.h"
#include "platform/Message.h"
#include "platform/ShellOpen.h"
#include "platform/StdControls.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringList>

namespace {

constexpr QSize ClientSize(662, 567);
constexpr TColor Slate = RGBColor(57, 80, 91);
constexpr TColor LightCyan = RGBColor(128, 255, 255);

const QString FontName = QStringLiteral("MS Sans Serif");

// How the six outputs hang on the printer port; the spacing of the last lines lines the bit
// patterns up as they were typed, so every space counts.
QString WiringText()
{
    const QStringList lines = {
        QStringLiteral("Control de Brelom para corriente alterna"),
        QStringLiteral("Cada salida de la regleta da 220 V / 2 A"),
        QStringLiteral("y está aislada mediante un opto-triac del"),
        QStringLiteral("sistema de control."),
        QStringLiteral("Se utilizan los 6 bits de menor peso del"),
        QStringLiteral("puerto paralelo. Pueden activarse por"),
        QStringLiteral("tanto hasta 6 dispositivos desde cualquier"),
        QStringLiteral("programa que acceda al puerto de impresora"),
        QStringLiteral(" ( en QBasic:  OUT 888 , X  "),
        QStringLiteral(" para X  =  5 se activan D2 y D0             000101 "),
        QStringLiteral(" para X = 15 se activan D0,D1,D2 y D3  001111)"),
    };
    return lines.join(u'\n');
}

} // namespace

TAboutBox::TAboutBox(QWidget* mainWindow)
    : TDialogForm(mainWindow, QStringLiteral("AboutBox"), QStringLiteral("About"), ClientSize,
                  TStacking::Free)
{
    SetBackgroundColor(this, clBtnFace);

    Panel1 = new TPanel(this, QStringLiteral("Panel1"));
    Panel1->setGeometry(QRect(QPoint(), ClientSize));
    Panel1->SetColor(Slate);
    Panel1->SetBevels(bvRaised, bvLowered);

    ProgramIcon = new TImage(Panel1, QStringLiteral("ProgramIcon"), QRect(514, 6, 65, 57),
                             QStringLiteral(":/ProgramIcon.svg"), true);
    ProductName = new TLabel(Panel1, QStringLiteral("ProductName"), QRect(243, 15, 171, 29),
                             QStringLiteral("Brelom"), clLime, MakeFont(FontName, 24, fsBold));
    Version = new TLabel(Panel1, QStringLiteral("Version"), QRect(245, 49, 92, 20),
                         QStringLiteral("Version 1.0"), clLime, MakeFont(FontName, 16, fsBold));
    Notice = new TLabel(Panel1, QStringLiteral("Notice"), QRect(45, 170, 161, 20),
                        QStringLiteral("© 2024 P.V."), clLime, MakeFont(FontName, 16, fsBold));
    Image2 = new TImage(Panel1, QStringLiteral("Image2"), QRect(34, 234, 200, 120),
                        QStringLiteral(":/PowerStrip.svg"), false);
    Image1 = new TImage(Panel1, QStringLiteral("Image1"), QRect(42, 17, 168, 137),
                        QStringLiteral(":/Connector.svg"), false);
    Image3 = new TImage(Panel1, QStringLiteral("Image3"), QRect(373, 74, 248, 138),
                        QStringLiteral(":/Circuit.svg"), false);
    Image4 = new TImage(Panel1, QStringLiteral("Image4"), QRect(40, 384, 201, 161),
                        QStringLiteral(":/StripSetup.svg"), false);
    Label1 = new TLabel(Panel1, QStringLiteral("Label1"), QRect(8, 360, 328, 16),
                        QStringLiteral("Conexión de la regleta a un sistema de control de luces"),
                        clAqua, MakeFont(FontName, 13));

    JLabel1 = new TJLabel(Panel1, QStringLiteral("JLabel1"), QRect(40, 192, 164, 20),
                          u' ' + QLatin1String(MakerWebCaption) + u' ', clLime,
                          MakeFont(FontName, 16, fsUnderline));
    JLabel1->SetColor(Slate);
    JLabel1->SetOnMoveBColor(LightCyan);
    JLabel1->SetOffMoveBColor(Slate);
    JLabel1->SetOnMoveFColor(clBlue);
    JLabel1->SetOffMoveFColor(clLime);
    JLabel1->SetOnStyles(fsUnderline);
    JLabel1->SetOnEnabled(true);
    JLabel1->OnClick = [this](QObject* sender) { JLabel1Click(sender); };

    Memo1 = new QPlainTextEdit(Panel1);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(352, 233, 305, 192);
    Memo1->setFrameShape(QFrame::NoFrame);
    Memo1->setFont(MakeFont(FontName, 13));
    QPalette memoColours = Memo1->palette();
    memoColours.setColor(QPalette::Base, ToQColor(Slate));
    memoColours.setColor(QPalette::Text, ToQColor(clAqua));
    Memo1->setPalette(memoColours);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setTabChangesFocus(true);
    Memo1->document()->setDocumentMargin(2);
    Memo1->setPlainText(WiringText());

    // On the form, over the panel.
    OKButton = MakeOKButton(QRect(408, 479, 153, 50));
    setTabOrder(Memo1, OKButton);
    Memo1->setFocus();
}

void TAboutBox::JLabel1Click(QObject*)
{
    // The address is the dialog's own, not the label's text. The shell gets no owner window: the
    // host has no hidden application window to give it, and nothing here waits on one.
    const QString address = QLatin1String(MakerWebAddress);
    const QString open = QStringLiteral("open");
    if (ShellExecute(nullptr, open, address, {}, {}, SW_SHOWNORMAL) > 32)
        return;
    if (ShellExecute(nullptr, open, QStringLiteral("netscape.exe"), address, {}, SW_SHOWNORMAL) >
        32)
        return;
    if (ShellExecute(nullptr, open, QStringLiteral("iexplore.exe"), address, {}, SW_SHOWNORMAL) >
        32)
        return;
    ShowMessage(QStringLiteral("Lo siento, no se encontró tu navegador"));
}
