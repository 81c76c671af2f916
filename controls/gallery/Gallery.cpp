// A window showing every display control in its states, for looking at them by eye.
//   gallery                         opens the window
//   gallery --screenshot file.png   renders it offscreen into a picture and exits

#include "controls/BSSGrid.h"
#include "controls/Frames.h"
#include "controls/JCheck.h"
#include "controls/JLAniBmp.h"
#include "controls/JLabel.h"
#include "controls/LCDControl.h"
#include "platform/Application.h"
#include "platform/Fonts.h"
#include "platform/StdControls.h"

#include <QPainter>
#include <QTest>
#include <QTimer>

namespace {

// A strip of `frames` frames, each a lamp of its own colour on a grey ground.
QImage LampStrip(int frames, int size)
{
    QImage strip(frames * size, size, QImage::Format_RGB32);
    strip.fill(QColor(200, 200, 200));
    QPainter p(&strip);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor colours[] = {Qt::red, QColor(90, 0, 0), Qt::green, Qt::blue, Qt::yellow};
    for (int f = 0; f < frames; ++f) {
        p.setBrush(colours[f % 5]);
        p.drawEllipse(QRect(f * size + 4, 4, size - 8, size - 8));
        p.drawText(QRect(f * size, 0, size, size), Qt::AlignCenter, QString::number(f + 1));
    }
    return strip;
}

// A sheet of `rows` x `columns` numbered pictures.
QImage Sheet(int rows, int columns, int w, int h)
{
    QImage sheet(columns * w, rows * h, QImage::Format_RGB32);
    QPainter p(&sheet);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            const int n = r * columns + c;
            p.fillRect(c * w, r * h, w, h, QColor::fromHsv(n * 360 / (rows * columns), 160, 230));
            p.drawText(QRect(c * w, r * h, w, h), Qt::AlignCenter, QString::number(n));
        }
    return sheet;
}

QImage Lamp16(bool lit)
{
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(ToQColor(clBtnFace));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(lit ? QColor(40, 230, 40) : QColor(30, 70, 30));
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    return image;
}

TLabel* Caption(QWidget* parent, int x, int y, const QString& text)
{
    return new TLabel(parent, QString(), QRect(x, y, 10, 13), text, clBlack, DefaultFont());
}

class Gallery : public QWidget
{
public:
    Gallery()
    {
        setWindowTitle(QStringLiteral("Controles de PrVardo"));
        resize(760, 560);
        SetBackgroundColor(this, clBtnFace);

        Caption(this, 10, 8, QStringLiteral("TJCheck: tipos de marca, estados y hundido"));
        const TCheckType types[] = {ctCheckMark, ctVCheckMark, ctCross, ctBitMap, ctUserDraw};
        const char* names[] = {"ctCheckMark", "ctVCheckMark", "ctCross", "ctBitMap", "ctUserDraw"};
        for (int t = 0; t < 5; ++t)
            for (int s = 0; s < 3; ++s) {
                auto* c = new TJCheck(this);
                c->setGeometry(10 + s * 130, 26 + t * 24, 125, 20);
                c->SetCheckType(types[t]);
                c->SetCaption(QString::fromLatin1(names[t]));
                c->SetCheckedBitMap(TBitmap(Lamp16(true)));
                c->SetUnCheckedBitMap(TBitmap(Lamp16(false)));
                if (types[t] == ctBitMap)
                    c->SetCheckBoxWidth(18);
                c->SetState(TCheckBoxState(s));
            }
        auto* cross = new TJCheck(this);
        cross->setGeometry(400, 26, 23, 23);
        cross->SetCheckType(ctCross);
        cross->SetCheckWidth(3);
        cross->SetCheckColor(clRed);
        cross->SetCheckBoxWidth(22);
        cross->SetChecked(true);
        auto* down = new TJCheck(this);
        down->setGeometry(400, 56, 98, 20);
        down->SetCaption(QStringLiteral("Down"));
        down->SetDown(true);

        Caption(this, 10, 150, QStringLiteral("TLCDControl: 0, 40 %, 100, 7 K"));
        const std::pair<int, TNumberType> numbers[] = {
            {0, ntNone}, {40, ntPercent}, {100, ntNone}, {7, ntCharK}};
        for (int i = 0; i < 4; ++i) {
            auto* lcd = new TLCDControl(this);
            lcd->setGeometry(10 + i * 90, 168, 81, 249);
            lcd->SetNumberType(numbers[i].second);
            lcd->SetNumber(numbers[i].first);
        }
        auto* small = new TLCDControl(this);
        small->move(380, 168);
        small->SetNumber(75);

        Caption(this, 500, 8, QStringLiteral("TPlayFrame: fijo y parpadeando"));
        auto* still = new TPlayFrame(this);
        still->move(500, 26);
        still->SetImagenBMP(TBitmap(LampStrip(2, 60)));
        still->SetNFrames(2);
        still->SetFrameActual(1);
        auto* blink = new TPlayFrame(this);
        blink->move(570, 26);
        blink->SetImagenBMP(TBitmap(LampStrip(4, 60)));
        blink->SetNFrames(4);
        blink->SetBlinkRate(500);
        blink->SetLedStatus(lsBlink);

        Caption(this, 500, 100, QStringLiteral("TAnimatedBitmap: hoja 2 x 3"));
        auto* sheet = new TAnimatedBitmap(this);
        sheet->move(500, 118);
        sheet->SetBitmap(TBitmap(Sheet(2, 3, 80, 50)));
        sheet->SetRows(2);
        sheet->SetColumns(3);
        sheet->SetWidth(80);
        sheet->SetHeight(50);
        sheet->SetInterval(700);

        Caption(this, 500, 185, QStringLiteral("TBSSGrid: csNone y csRaised"));
        for (int i = 0; i < 2; ++i) {
            auto* grid = new TBSSGrid(this);
            grid->setGeometry(500 + i * 125, 203, 120, 80);
            grid->SetColCount(4);
            grid->SetRowCount(5);
            grid->SetDefaultColWidth(27);
            grid->SetDefaultRowHeight(13);
            grid->SetColor(clTeal);
            grid->SetCellstyle(i == 0 ? csNone : csRaised);
            grid->Invalidate();
        }

        Caption(this, 500, 300, QStringLiteral("TJLabel: pase el ratón por encima"));
        auto* hover = new TJLabel(this, QStringLiteral("JLabel1"), QRect(500, 318, 164, 20),
                                  QStringLiteral(" www.brelom.es "), clLime,
                                  MakeFont(QStringLiteral("MS Sans Serif"), 16, fsUnderline));
        hover->SetColor(RGBColor(57, 80, 91));
        hover->SetOnMoveBColor(RGBColor(128, 255, 255));
        hover->SetOffMoveBColor(RGBColor(57, 80, 91));
        hover->SetOnMoveFColor(RGBColor(0, 0, 255));
        hover->SetOffMoveFColor(clLime);
        hover->SetOnStyles(fsUnderline);
        hover->SetOnEnabled(true);
    }
};

} // namespace

int main(int argc, char** argv)
{
    const bool shot = argc >= 3 && QByteArray(argv[1]) == "--screenshot";
    if (shot && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    Gallery gallery;
    gallery.show();
    if (shot) {
        (void)QTest::qWaitForWindowExposed(&gallery);
        return gallery.grab().save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
    }
    return app.exec();
}
