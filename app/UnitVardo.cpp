#include "UnitVardo.h"

#include "app/Artwork.h"
#include "core/ErrorReport.h"
#include "core/Meter.h"
#include "core/ScheduleFile.h"
#include "outputs/Outputs.h"
#include "platform/Fonts.h"
#include "platform/TrackBarStyle.h"

#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QTabBar>

#include <algorithm>
#include <utility>

namespace {

// A schedule grid shows the day's slots below one row and right of one column of captions: cell
// (slot + 1, hour + 1) is slot `slot` of hour `hour`.
constexpr int CaptionCells = 1;

TRect SlotRect(TBSSGrid* grid, int slot, int hour)
{
    return grid->CellRect(slot + CaptionCells, hour + CaptionCells);
}

const QString SlotCaptions[12] = {
    QStringLiteral("0 min"),  QStringLiteral("5 min"),  QStringLiteral("10 min"),
    QStringLiteral("15 min"), QStringLiteral("20 min"), QStringLiteral("25 min"),
    QStringLiteral("30 min"), QStringLiteral("35 min"), QStringLiteral("40 min"),
    QStringLiteral("45 min"), QStringLiteral("50 min"), QStringLiteral("55 min"),
};

QString HourCaption(int hour)
{
    return QString::number(hour) + QStringLiteral(" h");
}

struct LetterPlace
{
    const char* letter;
    QRect box;
};

// "Temporizador" down the left edge of the window.
const LetterPlace Letters[12] = {
    {"T", {7, 30, 29, 55}},   {"e", {36, 50, 21, 55}},  {"m", {44, 88, 37, 55}},
    {"p", {52, 125, 24, 55}}, {"o", {39, 165, 23, 55}}, {"r", {30, 199, 16, 55}},
    {"i", {20, 238, 12, 55}}, {"z", {36, 269, 22, 55}}, {"a", {50, 303, 21, 55}},
    {"d", {63, 344, 24, 55}}, {"o", {40, 377, 23, 55}}, {"r", {26, 421, 16, 55}},
};

constexpr int ClientWidth = 664;
constexpr int ClientHeight = 575;
constexpr int PanelHeight = 37;

// The bar graph in `wave`: bars 6 px wide, one every 10 px, the box cleared once a bar has been
// drawn beyond x = 400.
constexpr int BarWidth = 6;
constexpr int BarStep = 10;
constexpr int BarWrap = 400;

} // namespace

TFormVardo::TFormVardo(QWidget* parent) : QWidget(parent)
{
    // The lamp board is drawn on the application's thread pool while the controls are made;
    // its pictures go in last.
    Artwork::PrepareBoardSheet();
    setObjectName(QStringLiteral("FormVardo"));
    setWindowTitle(QStringLiteral("Control de Brelom"));
    resize(ClientWidth, ClientHeight);
    Pacer = new TFramePacer(this);

    CreateBoard();
    CreateTitles();
    CreatePanel();
    CreateLamps();
    CreatePages();
    CreateMicrophoneControls();
    CreateComponents();
    CreateRedirector();
    PlaceArtwork();
    SetAccessibleNames();

    // Keyboard order: the page control, then the top panel's controls, then "active"; on the
    // microphone page its three buttons.
    setTabOrder(PageControl1, LuzTimer);
    setTabOrder(LuzTimer, Velocidad);
    setTabOrder(Velocidad, JOn);
    setTabOrder(JOn, LoadGrid);
    setTabOrder(LoadGrid, SaveGrid);
    setTabOrder(SaveGrid, BitBtn1);
    setTabOrder(BitBtn1, TrackBar1);
    setTabOrder(TrackBar1, CkActive);
    setTabOrder(BtOpen, BTClose);
    setTabOrder(BTClose, PonerECO);

    Guard(this, [this] { FormCreate(); });
}

std::unique_ptr<TFormVardo> MakeMainWindow()
{
    auto form = std::make_unique<TFormVardo>();
    form->AboutBox = new TAboutBox(form.get());
    form->AboutBox1 = new TAboutBox1(form.get());
    // The information dialog shows right after start: its picture is rendered meanwhile.
    form->AboutBox1->PreparePictures();
    return form;
}

TFormVardo::~TFormVardo()
{
    // Switching the echo off dispatches the devices' last notifications; none of them may find
    // a control gone. The redirector's own destruction silences its events and never throws.
    delete AudioRedirector1;
    AudioRedirector1 = nullptr;
}

// The lamp board with its two pictures (lamps dark, lamps lit), showing the dark one.
static void SetUpBoard(TAnimatedBitmap* board, const QImage& sheet)
{
    board->SetBitmap(TBitmap(sheet));
    board->SetRows(2);
    board->SetColumns(1);
    board->SetWidth(std::uint16_t(Artwork::BoardPlace.width()));
    board->SetHeight(std::uint16_t(Artwork::BoardPlace.height()));
    board->SetActivePicture(0);
    board->SetInterval(0);
    board->SetReversePlay(false);
}

void TFormVardo::CreateBoard()
{
    AnimatedBitmap3 = new TAnimatedBitmap(this);
    AnimatedBitmap3->setObjectName(QStringLiteral("AnimatedBitmap3"));
    AnimatedBitmap3->setGeometry(Artwork::BoardPlace);

    Label4 = new TLabel(this, QStringLiteral("Label4"), QRect(9, 502, 16, 37), QStringLiteral("1"),
                        clYellow, MakeFont(QStringLiteral("MS Sans Serif"), 32));
}

void TFormVardo::CreateLamps()
{
    // Creation order D6, D5, ..., D0, D7.
    TPlayFrame** lamps[8] = {&D0, &D1, &D2, &D3, &D4, &D5, &D6, &D7};
    const int order[8] = {6, 5, 4, 3, 2, 1, 0, 7};
    for (int k : order) {
        auto* lamp = new TPlayFrame(this);
        lamp->setObjectName(QStringLiteral("D%1").arg(k));
        lamp->move(Artwork::LampPlace(k).topLeft());
        *lamps[k] = lamp;
    }
}

void TFormVardo::PlaceArtwork()
{
    const QImage sheet = Artwork::BoardSheet();
    SetUpBoard(AnimatedBitmap3, sheet);
    SetUpBoard(AnimatedBitmap2, sheet);
    for (int k = 0; k < 8; ++k) {
        TPlayFrame* lamp = Lamp(k);
        lamp->SetImagenBMP(TBitmap(Artwork::LampStrip(k)));
        lamp->SetNFrames(2);
        lamp->SetFrameActual(2);
    }
}

void TFormVardo::CreateComponents()
{
    Temporiz = new TTickTimer(this);
    Temporiz->setObjectName(QStringLiteral("Temporiz"));
    Temporiz->setInterval(1);
    connect(Temporiz, &TTickTimer::timeout, this,
            [this] { Guard(this, [this] { TemporizTimer(Temporiz); }); });

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1);
    FMade.start();
    connect(Timer1, &QTimer::timeout, this,
            [this] { Guard(this, [this] { Timer1Timer(Timer1); }); });
    Timer1->start();

    const TFileFilter all{QStringLiteral("*.* (Todos los archivos)"), QStringLiteral("*.*")};
    OpenDialog1.FileName = QStringLiteral("*.TEM");
    OpenDialog1.DefaultExt = QStringLiteral("*.TEM");
    OpenDialog1.Filters = {
        {QStringLiteral("*.TEM (Archivos temporización))"), QStringLiteral("*.tem")}, all};
    OpenDialog1.HideReadOnly = true;
    SaveDialog1.FileName = QStringLiteral("*.TEM");
    SaveDialog1.DefaultExt = QStringLiteral("*.tem");
    SaveDialog1.Filters = {
        {QStringLiteral("*.tem (archivos de temporización)"), QStringLiteral("*.tem")}, all};
    SaveDialog1.OverwritePrompt = true;
    SaveDialog1.NoChangeDir = true;
}

void TFormVardo::CreateTitles()
{
    const QFont title = MakeFont(QStringLiteral("Times New Roman"), 24, fsBold | fsItalic);
    Label5 = new TLabel(this, QStringLiteral("Label5"), QRect(354, 40, 229, 28),
                        QStringLiteral("Temporizador 24 horas"), clMaroon, title);
    Label6 = new TLabel(this, QStringLiteral("Label6"), QRect(356, 42, 229, 28),
                        QStringLiteral("Temporizador 24 horas"), clAqua, title);

    const QFont letter = MakeFont(QStringLiteral("Times New Roman"), 48);
    for (int i = 0; i < 12; ++i)
        LetterLabels[size_t(i)] =
            new TLabel(this, QStringLiteral("Label%1").arg(7 + i), Letters[i].box,
                       QString::fromLatin1(Letters[i].letter), clAqua, letter);

    const QFont course = MakeFont(QStringLiteral("Times New Roman"), 19);
    Label19 = new TLabel(this, QStringLiteral("Label19"), QRect(102, 46, 174, 21),
                         QStringLiteral("Practicas de tecnología"), clGreen, course);
    Label20 = new TLabel(this, QStringLiteral("Label20"), QRect(102, 48, 174, 21),
                         QStringLiteral("Practicas de tecnología"), clWhite, course);
    Label23 = new TLabel(this, QStringLiteral("Label23"), QRect(568, 474, 79, 13),
                         QString::fromLatin1(MakerWebCaption), clYellow, DefaultFont());
}

void TFormVardo::CreatePanel()
{
    Panel1 = new TPanel(this, QStringLiteral("Panel1"));
    Panel1->setGeometry(0, 0, ClientWidth, PanelHeight);
    Panel1->SetColor(FormColor);
    Panel1->SetBevels(bvRaised, bvNone);

    const QFont text = DefaultFont();
    const QFont clock = MakeFont(QStringLiteral("MS Sans Serif"), 21);
    Label3 = new TLabel(Panel1, QStringLiteral("Label3"), QRect(76, 11, 70, 13),
                        QStringLiteral("Tiempo actual:"), clYellow, text);
    cx = new TLabel(Panel1, QStringLiteral("cx"), QRect(145, 4, 32, 24), QStringLiteral("cx"),
                    clLime, clock);
    Label1 = new TLabel(Panel1, QStringLiteral("Label1"), QRect(179, 11, 34, 13),
                        QStringLiteral("Hora(s)"), clYellow, text);
    cy = new TLabel(Panel1, QStringLiteral("cy"), QRect(216, 4, 33, 24), QStringLiteral("cy"),
                    clLime, clock);
    Label2 = new TLabel(Panel1, QStringLiteral("Label2"), QRect(249, 11, 36, 13),
                        QStringLiteral("minutos"), clYellow, text);

    SpeedButton1 = new QToolButton(Panel1);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setGeometry(320, 2, 49, 32);
    SpeedButton1->setIcon(QIcon(QPixmap::fromImage(Artwork::ClockGlyph())));
    SpeedButton1->setIconSize(QSize(20, 20));
    SpeedButton1->setFocusPolicy(Qt::NoFocus);
    connect(SpeedButton1, &QToolButton::clicked, this,
            [this] { Guard(this, [this] { SpeedButton1Click(SpeedButton1); }); });

    LuzTimer = new TJCheck(Panel1);
    LuzTimer->setObjectName(QStringLiteral("LuzTimer"));
    LuzTimer->setGeometry(294, 8, 19, 20);
    LuzTimer->SetCheckType(ctBitMap);
    LuzTimer->SetStretchBitMaps(false);
    LuzTimer->SetSizeToBitMap(false);
    LuzTimer->SetCheckedBitMap(TBitmap(Artwork::IndicatorLamp(true)));
    LuzTimer->SetUnCheckedBitMap(TBitmap(Artwork::IndicatorLamp(false)));
    LuzTimer->SetCheckBoxWidth(18);
    LuzTimer->SetCheckBevelStyle(bvRaised);
    LuzTimer->SetCheckBevelWidth(1);
    LuzTimer->SetCheckWidth(1);
    LuzTimer->SetCheckColor(clBlack);
    LuzTimer->SetGrayedColor(clGray);
    LuzTimer->SetTextIndentSize(5);
    LuzTimer->SetColor(clBtnFace);
    LuzTimer->SetTransparentColor(clBtnFace);

    Velocidad = new QCheckBox(QStringLiteral("Test/Normal"), Panel1);
    Velocidad->setObjectName(QStringLiteral("Velocidad"));
    Velocidad->setGeometry(376, 1, 81, 17);
    SetTextColor(Velocidad, clYellow);
    connect(Velocidad, &QCheckBox::toggled, this,
            [this] { Guard(this, [this] { VelocidadClick(Velocidad); }); });

    JOn = new TJCheck(Panel1);
    JOn->setObjectName(QStringLiteral("JOn"));
    JOn->setGeometry(491, 5, 23, 23);
    JOn->SetCaption(QStringLiteral("JOn"));
    JOn->SetCheckType(ctCross);
    JOn->SetStretchBitMaps(false);
    JOn->SetSizeToBitMap(false);
    JOn->SetCheckWidth(3);
    JOn->SetCheckColor(clRed);
    JOn->SetCheckBoxWidth(22);
    JOn->SetCheckBevelStyle(bvRaised);
    JOn->SetCheckBevelWidth(1);
    JOn->SetGrayedColor(clGray);
    JOn->SetTextIndentSize(5);
    JOn->SetColor(clBtnFace);
    JOn->SetTransparentColor(clBtnFace);

    LoadGrid = new QPushButton(Panel1);
    LoadGrid->setObjectName(QStringLiteral("LoadGrid"));
    LoadGrid->setGeometry(3, 2, 32, 32);
    LoadGrid->setIcon(QIcon(QPixmap::fromImage(Artwork::OpenFolderGlyph())));
    LoadGrid->setIconSize(QSize(19, 19));
    connect(LoadGrid, &QPushButton::clicked, this,
            [this] { Guard(this, [this] { LoadGridClick(LoadGrid); }); });

    SaveGrid = new QPushButton(Panel1);
    SaveGrid->setObjectName(QStringLiteral("SaveGrid"));
    SaveGrid->setGeometry(35, 2, 32, 32);
    SaveGrid->setIcon(QIcon(QPixmap::fromImage(Artwork::FloppyGlyph())));
    SaveGrid->setIconSize(QSize(16, 16));
    connect(SaveGrid, &QPushButton::clicked, this,
            [this] { Guard(this, [this] { SaveGridClick(SaveGrid); }); });

    BitBtn1 = new QPushButton(Panel1);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry(616, 2, 36, 32);
    QIcon question(QPixmap::fromImage(Artwork::QuestionGlyph(true)));
    question.addPixmap(QPixmap::fromImage(Artwork::QuestionGlyph(false)), QIcon::Disabled);
    BitBtn1->setIcon(question);
    BitBtn1->setIconSize(QSize(18, 18));
    connect(BitBtn1, &QPushButton::clicked, this,
            [this] { Guard(this, [this] { BitBtn1Click(BitBtn1); }); });

    TrackBar1 = new QSlider(Qt::Horizontal, Panel1);
    TrackBar1->setObjectName(QStringLiteral("TrackBar1"));
    TrackBar1->setGeometry(368, 14, 121, 19);
    TrackBar1->setRange(1, 10);
    TrackBar1->setValue(1);
    TrackBar1->setTickPosition(QSlider::TicksBelow);
    TrackBar1->setPageStep(1);
    // A handle that fits the bar's 19 px (the check box above keeps its square free) and tick
    // marks light enough for the dark panel.
    TrackBar1->setStyle(new TTrackBarStyle(TrackBar1));
}

TBSSGrid* TFormVardo::CreateScheduleGrid(QWidget* page, const QString& name)
{
    auto* grid = new TBSSGrid(page);
    grid->setObjectName(name);
    grid->setGeometry(0, 4, 493, 372);
    grid->SetColor(clTeal);
    grid->SetColCount(13);
    grid->SetRowCount(25);
    grid->SetFixedCols(1);
    grid->SetFixedRows(1);
    grid->SetDefaultColWidth(35);
    grid->SetDefaultRowHeight(13);
    grid->SetCellFont(MakeFont(QStringLiteral("Small Fonts"), 9), clTeal);
    grid->SetOptions(goFixedVertLine | goFixedHorzLine | goVertLine | goHorzLine |
                     goDrawFocusSelected);
    grid->SetCellstyle(csNone);
    return grid;
}

void TFormVardo::CreatePages()
{
    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setGeometry(100, 74, 485, 391);
    PageControl1->setUsesScrollButtons(false);

    const char* names[6] = {"S1", "S2", "S3", "S4", "S5", "S6"};
    QWidget** pages[6] = {&S1, &S2, &S3, &S4, &S5, &S6};
    TBSSGrid** grids[6] = {&BSSGrid1, &BSSGrid2, &BSSGrid3, &BSSGrid4, &BSSGrid5, &BSSGrid6};
    for (int p = 0; p < 6; ++p) {
        QWidget* page = new QWidget;
        page->setObjectName(QString::fromLatin1(names[p]));
        PageControl1->addTab(page, QStringLiteral("D%1").arg(p));
        *pages[p] = page;
        if (p == 1) {
            // The board's twin lies beneath the grid of page D1, out of sight.
            AnimatedBitmap2 = new TAnimatedBitmap(page);
            AnimatedBitmap2->setObjectName(QStringLiteral("AnimatedBitmap2"));
            AnimatedBitmap2->setGeometry(-53, 290, 619, 105);
        }
        *grids[p] = CreateScheduleGrid(page, QStringLiteral("BSSGrid%1").arg(p + 1));
    }
    VUMETRO = new QWidget;
    VUMETRO->setObjectName(QStringLiteral("VUMETRO"));
    PageControl1->addTab(VUMETRO, QStringLiteral("VUMETRO"));
    PageControl1->setCurrentWidget(VUMETRO);
    CreateMicrophonePage();

    using namespace std::placeholders;
    BSSGrid1->OnDrawCell = std::bind(&TFormVardo::BSSGrid1DrawCell, this, _1, _2, _3, _4, _5);
    BSSGrid2->OnDrawCell = std::bind(&TFormVardo::BSSGrid2DrawCell, this, _1, _2, _3, _4, _5);
    BSSGrid3->OnDrawCell = std::bind(&TFormVardo::BSSGrid3DrawCell, this, _1, _2, _3, _4, _5);
    BSSGrid4->OnDrawCell = std::bind(&TFormVardo::BSSGrid4DrawCell, this, _1, _2, _3, _4, _5);
    BSSGrid5->OnDrawCell = std::bind(&TFormVardo::BSSGrid5DrawCell, this, _1, _2, _3, _4, _5);
    BSSGrid6->OnDrawCell = std::bind(&TFormVardo::BSSGrid6DrawCell, this, _1, _2, _3, _4, _5);
    BSSGrid1->OnSelectCell = std::bind(&TFormVardo::BSSGrid1SelectCell, this, _1, _2, _3, _4);
    BSSGrid2->OnSelectCell = std::bind(&TFormVardo::BSSGrid2SelectCell, this, _1, _2, _3, _4);
    BSSGrid3->OnSelectCell = std::bind(&TFormVardo::BSSGrid3SelectCell, this, _1, _2, _3, _4);
    BSSGrid4->OnSelectCell = std::bind(&TFormVardo::BSSGrid4SelectCell, this, _1, _2, _3, _4);
    BSSGrid5->OnSelectCell = std::bind(&TFormVardo::BSSGrid5SelectCell, this, _1, _2, _3, _4);
    BSSGrid6->OnSelectCell = std::bind(&TFormVardo::BSSGrid6SelectCell, this, _1, _2, _3, _4);

    // Three spare sheets, never shown, each with a grid set up like BSSGrid6.
    QWidget** sheets[3] = {&TabSheet1, &TabSheet2, &TabSheet3};
    TBSSGrid** spare[3] = {&BSSGrid7, &BSSGrid8, &BSSGrid9};
    for (int i = 0; i < 3; ++i) {
        QWidget* sheet = new QWidget(this);
        sheet->setObjectName(QStringLiteral("TabSheet%1").arg(i + 1));
        sheet->setWindowTitle(QStringLiteral("D5"));
        sheet->hide();
        *sheets[i] = sheet;
        TBSSGrid* grid = CreateScheduleGrid(sheet, QStringLiteral("BSSGrid%1").arg(7 + i));
        grid->OnDrawCell = BSSGrid6->OnDrawCell;
        grid->OnSelectCell = BSSGrid6->OnSelectCell;
        *spare[i] = grid;
    }

    PageControl1->installEventFilter(this);
    PageControl1->tabBar()->installEventFilter(this);
}

QPushButton* TFormVardo::CreateButton(QWidget* parent, const QString& name, const QRect& geometry,
                                      const QString& text, void (TFormVardo::*click)(QObject*))
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setGeometry(geometry);
    connect(button, &QPushButton::clicked, this,
            [this, button, click] { Guard(this, [&] { (this->*click)(button); }); });
    return button;
}

void TFormVardo::CreateMicrophonePage()
{
    // The page in the button face colour, as the toolkit's pages are: the bar graph's box, which
    // has the same colour, is seen only through what is drawn on it.
    SetBackgroundColor(VUMETRO, clBtnFace);
    wave = new TPaintBox(VUMETRO, QStringLiteral("wave"), QRect(32, 152, 313, 100));
    wave->SetColor(clBtnFace);

    // Three controls that nothing uses, kept hidden.
    Shape1 = new TShape(VUMETRO, QStringLiteral("Shape1"), QRect(23, 272, 354, 25), clRed, clRed);
    Shape1->hide();
    pitch = new TLabel(VUMETRO, QStringLiteral("pitch"), QRect(419, 48, 10, 24),
                       QStringLiteral("0"), clLime, MakeFont(QStringLiteral("MS Sans Serif"), 19));
    pitch->hide();

    Label21 = new TLabel(VUMETRO, QStringLiteral("Label21"), QRect(120, 8, 229, 29),
                         QStringLiteral("Control microfónico"), clYellow,
                         MakeFont(QStringLiteral("MS Sans Serif"), 24, fsBold));
    Label22 = new TLabel(VUMETRO, QStringLiteral("Label22"), QRect(96, 40, 285, 16),
                         QStringLiteral("Ajustar la sensibilidad del micro en el PC"), clLime,
                         MakeFont(QStringLiteral("MS Sans Serif"), 13, fsBold));

    LCDControl1 = new TLCDControl(VUMETRO);
    LCDControl1->setObjectName(QStringLiteral("LCDControl1"));
    LCDControl1->setGeometry(392, 72, 81, 249);
    LCDControl1->SetNumberMax(100);
    LCDControl1->SetNumber(0);
    LCDControl1->SetNumberType(ntNone);

    BtOpen = CreateButton(VUMETRO, QStringLiteral("BtOpen"), QRect(128, 320, 89, 33),
                          QStringLiteral("Abrir"), &TFormVardo::BtOpenClick);
    BTClose = CreateButton(VUMETRO, QStringLiteral("BTClose"), QRect(224, 320, 89, 33),
                           QStringLiteral("Cerrar"), &TFormVardo::BTCloseClick);

    RichEdit1 = new QTextEdit(VUMETRO);
    RichEdit1->setObjectName(QStringLiteral("RichEdit1"));
    RichEdit1->setGeometry(16, 320, 81, 33);
    RichEdit1->setPlainText(QStringLiteral("RichEdit1"));
    RichEdit1->hide();

    PonerECO = CreateButton(VUMETRO, QStringLiteral("PonerECO"), QRect(393, 320, 81, 33),
                            QStringLiteral("ECO on/off"), &TFormVardo::PonerECOClick);
}

void TFormVardo::CreateMicrophoneControls()
{
    CkActive = new TRadioButton(this, QStringLiteral("CkActive"), QRect(589, 152, 68, 17),
                                QStringLiteral("active"));
    // Yellow like "Test/Normal": the style's black would hardly read on the slate window.
    SetTextColor(CkActive, clYellow);
    connect(CkActive, &QRadioButton::clicked, this,
            [this] { Guard(this, [this] { CkActiveClick(CkActive); }); });

    AudioLevel = new TLevelBar(this, QStringLiteral("AudioLevel"), QRect(589, 208, 65, 17));
    AudioLevel->setRange(0, 100);
    AudioLevel->setValue(0);
}

void TFormVardo::CreateRedirector()
{
    AudioRedirector1 = new TAudioRedirector(this);
    AudioRedirector1->setObjectName(QStringLiteral("AudioRedirector1"));
    AudioRedirector1->AudioOut()->SetOptions({woSetVolume});
    AudioRedirector1->OnActivate = [this](QObject* Sender) { AudioRedirector1Activate(Sender); };
    AudioRedirector1->OnDeactivate = [this](QObject* Sender) {
        AudioRedirector1Deactivate(Sender);
    };
}

void TFormVardo::SetAccessibleNames()
{
    for (int p = 0; p < 8; ++p)
        Lamp(p)->SetLabel(QStringLiteral("D%1").arg(p));
    for (int p = 0; p < TSchedule::Planes; ++p) {
        TBSSGrid* grid = ScheduleGrid(p);
        grid->setAccessibleName(QStringLiteral("Salida D%1").arg(p));
        // A row is an hour, a column a 5-minute slot: "14:35, marcada".
        grid->OnDescribeCell = [this, p](QObject*, int ACol, int ARow, QString& Text) {
            const int slot = ACol - CaptionCells;
            const int hour = ARow - CaptionCells;
            const bool marked = Schedule.Flag(p, slot, hour) == 1;
            Text = QStringLiteral("%1:%2, %3")
                       .arg(hour)
                       .arg(slot * 5, 2, 10, QLatin1Char('0'))
                       .arg(marked ? QStringLiteral("marcada") : QStringLiteral("sin marcar"));
        };
    }
    const std::pair<QAbstractButton*, QString> pictureButtons[] = {
        {LoadGrid, QStringLiteral("Abrir horario")},
        {SaveGrid, QStringLiteral("Guardar horario")},
        {SpeedButton1, QStringLiteral("Reloj en marcha/parado")},
        {BitBtn1, QStringLiteral("Acerca de")},
        {Velocidad, QStringLiteral("Modo de prueba")},
    };
    for (const auto& [button, text] : pictureButtons) {
        button->setAccessibleName(text);
        button->setToolTip(text);
    }
    AnimatedBitmap3->setAccessibleName(QStringLiteral("Tablero de lámparas"));
    LuzTimer->setAccessibleName(QStringLiteral("Luz del reloj"));
    JOn->setAccessibleName(QStringLiteral("Salida D0 ahora"));
    TrackBar1->setAccessibleName(QStringLiteral("Velocidad del modo de prueba"));
    wave->setAccessibleName(QStringLiteral("Gráfica del nivel"));
    LCDControl1->setAccessibleName(QStringLiteral("Pantalla del nivel"));
    AudioLevel->setAccessibleName(QStringLiteral("Nivel del micrófono"));
}

TBSSGrid* TFormVardo::ScheduleGrid(int plane) const
{
    switch (plane) {
    case 0:
        return BSSGrid1;
    case 1:
        return BSSGrid2;
    case 2:
        return BSSGrid3;
    case 3:
        return BSSGrid4;
    case 4:
        return BSSGrid5;
    case 5:
        return BSSGrid6;
    default:
        return nullptr;
    }
}

TPlayFrame* TFormVardo::Lamp(int p) const
{
    const std::array<TPlayFrame*, 8> lamps = {D0, D1, D2, D3, D4, D5, D6, D7};
    return (p >= 0 && p < 8) ? lamps[size_t(p)] : nullptr;
}

void TFormVardo::FormCreate()
{
    BSSGrid1->SetCells(0, 0, QStringLiteral("TEMP"));
    for (int i = 1; i <= 12; ++i)
        BSSGrid1->SetCells(i, 0, SlotCaptions[i - 1]);
    for (int j = 1; j <= 24; ++j)
        BSSGrid1->SetCells(0, j, HourCaption(j - 1));
    Schedule.ClearPlane(0);
    for (int plane = 1; plane < TSchedule::Planes; ++plane) {
        TBSSGrid* grid = ScheduleGrid(plane);
        for (int i = 1; i <= 12; ++i)
            grid->SetCells(i, 0, SlotCaptions[i - 1]);
        for (int j = 1; j <= 24; ++j)
            grid->SetCells(0, j, HourCaption(j - 1));
    }
    Clock = ClockStartValues(LocalTimeOfDay());

    EcoOn = false;
    AudioRedirector1->AudioIn()->OnLevel = [this](QObject* Sender, std::int32_t Level) {
        AudioRedirector1AudioInLevel(Sender, Level);
    };
}

void TFormVardo::RepaintScheduleGrids()
{
    for (int p = 0; p < TSchedule::Planes; ++p)
        ScheduleGrid(p)->Invalidate();
}

void TFormVardo::WritePort(std::uint8_t value)
{
    if (Outputs != nullptr)
        Outputs->Write(value);
}

void TFormVardo::TemporizTimer(QObject*)
{
    CountTick(Clock, Velocidad->isChecked(), TrackBar1->value());
    cx->SetCaption(QString::number(Clock.ClockHour));
    cy->SetCaption(QString::number(Clock.ClockSlot * 5));
    ShowPuntero();
    WritePort(OutputWord);
}

void TFormVardo::ShowPuntero()
{
    if (WrapDay(Clock))
        RepaintScheduleGrids();
    const int slot = PointerSlot(Clock);
    const int hour = Clock.ClockHour;
    for (int p = 0; p < TSchedule::Planes; ++p) {
        TBSSGrid* grid = ScheduleGrid(p);
        const TRect r = SlotRect(grid, slot, hour);
        TCanvas* canvas = grid->Canvas();
        canvas->Brush.Color = clYellow;
        canvas->Ellipse(r.Left + 12, r.Top + 2, r.Right - 12, r.Bottom - 2);
    }
    JOn->SetChecked(Schedule.Flag(0, slot, hour) != 0);
    for (int p = 0; p < TSchedule::Planes; ++p)
        Lamp(p)->SetFrameActual(Schedule.Flag(p, slot, hour) != 0 ? 1 : 2);
    OutputWord = OutputWordAt(Schedule, slot, hour);
    Label4->SetCaption(QString::number(OutputWord));
}

void TFormVardo::SpeedButton1Click(QObject* Sender)
{
    BTCloseClick(Sender);
    if (Temporiz->isActive())
        Temporiz->stop();
    else
        Temporiz->start();
    LuzTimer->SetChecked(Temporiz->isActive());
}

void TFormVardo::VelocidadClick(QObject*)
{
    Temporiz->setInterval(Velocidad->isChecked() ? 1 : 1000);
}

void TFormVardo::PageControl1MouseUp(QObject*)
{
    ShowPuntero();
}

void TFormVardo::LoadGridClick(QObject*)
{
    if (!OpenDialog1.Execute(this))
        return;
    // Everything is read before anything changes: a failed load leaves the schedule as it was.
    const TScheduleFlags flags =
        ReadScheduleFile(QFile::encodeName(OpenDialog1.FileName).toStdString());
    Schedule.Assign(flags);
    TFileDialog::RememberFolderOf(OpenDialog1.FileName);
    RepaintScheduleGrids();
}

void TFormVardo::SaveGridClick(QObject*)
{
    if (!SaveDialog1.Execute(this))
        return;
    WriteScheduleFile(QFile::encodeName(SaveDialog1.FileName).toStdString(), Schedule.Flags());
}

void TFormVardo::BtOpenClick(QObject*)
{
    Temporiz->stop();
    LuzTimer->SetChecked(false);
    if (AudioOpen)
        return;
    CkActive->setChecked(true);
    // A failed open leaves "active" checked and AudioOpen clear: the next press tries again.
    AudioRedirector1->SetActive(CkActive->isChecked());
    AudioOpen = true;
}

void TFormVardo::BTCloseClick(QObject*)
{
    CkActive->setChecked(false);
    AudioRedirector1->SetActive(CkActive->isChecked());
    AudioOpen = false;
}

void TFormVardo::CkActiveClick(QObject*)
{
    AudioRedirector1->SetActive(CkActive->isChecked());
}

void TFormVardo::PonerECOClick(QObject*)
{
    EcoOn = !EcoOn;
    AudioRedirector1->AudioOut()->SetVolume(EcoOn ? 50 : 2);
}

void TFormVardo::AudioRedirector1Activate(QObject*)
{
    CkActive->setChecked(true);
}

void TFormVardo::AudioRedirector1Deactivate(QObject*)
{
    CkActive->setChecked(false);
}

void TFormVardo::AudioRedirector1AudioInLevel(QObject*, std::int32_t Level)
{
    AudioLevel->setValue(Level);
    LCDControl1->SetNumber(Level);
    DibujarOnda(static_cast<std::uint8_t>(Level));
}

void TFormVardo::DibujarOnda(std::uint8_t v)
{
    const int W = wave->width();
    const int H = wave->height();
    TCanvas* canvas = wave->Canvas();
    canvas->Pen.Color = clYellow;
    canvas->Brush.Color = clYellow;
    canvas->FillRect(Rect(BarX, H - v, BarX + BarWidth, H));
    BarX += BarStep;
    if (BarX > BarWrap) {
        // Bars from 313 on fall outside the box; they are counted all the same.
        BarX = 1;
        canvas->Brush.Color = FormColor;
        canvas->Rectangle(0, 0, W, H);
        canvas->Pen.Color = clYellow;
    }
    LCDControl1->SetNumber(v);
    const std::uint8_t word = MeterWord(v);
    WritePort(word);
    for (int p = 0; p < TSchedule::Planes; ++p)
        Lamp(p)->SetFrameActual((word >> p) & 1 ? 1 : 2);
}

bool TFormVardo::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease) {
        // A release over the tabs or the frame of the page control counts; one over a page's
        // contents belongs to that page.
        bool overControl = watched == PageControl1->tabBar();
        if (watched == PageControl1) {
            const QPoint pos = static_cast<QMouseEvent*>(event)->position().toPoint();
            QWidget* page = PageControl1->currentWidget();
            const bool overPage = page && page->rect().contains(page->mapFrom(PageControl1, pos));
            const bool overTabs = PageControl1->tabBar()->geometry().contains(pos);
            overControl = !overPage && !overTabs;
        }
        if (overControl)
            Guard(this, [this] { PageControl1MouseUp(PageControl1); });
    }
    return QWidget::eventFilter(watched, event);
}

// Fills every marked cell of the plane red. The grid clips the fills to the area it is
// repainting, so each marked cell ends up red over the grid's own drawing of it.
void TFormVardo::PaintMarkedCells(int plane)
{
    TBSSGrid* grid = ScheduleGrid(plane);
    TCanvas* canvas = grid->Canvas();
    for (int slot = 0; slot < TSchedule::Slots; ++slot)
        for (int hour = 0; hour < TSchedule::Hours; ++hour)
            if (Schedule.Flag(plane, slot, hour) == 1) {
                canvas->Brush.Color = clRed;
                canvas->FillRect(SlotRect(grid, slot, hour));
            }
}

void TFormVardo::ToggleSlot(int plane, int col, int row)
{
    Schedule.Toggle(plane, col - CaptionCells, row - CaptionCells);
}

void TFormVardo::BSSGrid1DrawCell(QObject*, int, int, TRect, TGridDrawState)
{
    PaintMarkedCells(0);
}
void TFormVardo::BSSGrid2DrawCell(QObject*, int, int, TRect, TGridDrawState)
{
    PaintMarkedCells(1);
}
void TFormVardo::BSSGrid3DrawCell(QObject*, int, int, TRect, TGridDrawState)
{
    PaintMarkedCells(2);
}
void TFormVardo::BSSGrid4DrawCell(QObject*, int, int, TRect, TGridDrawState)
{
    PaintMarkedCells(3);
}
void TFormVardo::BSSGrid5DrawCell(QObject*, int, int, TRect, TGridDrawState)
{
    PaintMarkedCells(4);
}
void TFormVardo::BSSGrid6DrawCell(QObject*, int, int, TRect, TGridDrawState)
{
    PaintMarkedCells(5);
}
void TFormVardo::BSSGrid1SelectCell(QObject*, int ACol, int ARow, bool&)
{
    ToggleSlot(0, ACol, ARow);
}
void TFormVardo::BSSGrid2SelectCell(QObject*, int ACol, int ARow, bool&)
{
    ToggleSlot(1, ACol, ARow);
}
void TFormVardo::BSSGrid3SelectCell(QObject*, int ACol, int ARow, bool&)
{
    ToggleSlot(2, ACol, ARow);
}
void TFormVardo::BSSGrid4SelectCell(QObject*, int ACol, int ARow, bool&)
{
    ToggleSlot(3, ACol, ARow);
}
void TFormVardo::BSSGrid5SelectCell(QObject*, int ACol, int ARow, bool&)
{
    ToggleSlot(4, ACol, ARow);
}
void TFormVardo::BSSGrid6SelectCell(QObject*, int ACol, int ARow, bool&)
{
    ToggleSlot(5, ACol, ARow);
}

void TFormVardo::paintEvent(QPaintEvent*)
{
    FPainted = true;
    QPainter p(this);
    p.fillRect(rect(), ToQColor(FormColor));
}

void TFormVardo::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // Only the top panel follows the window's width.
    Panel1->setGeometry(0, 0, width(), PanelHeight);
}

void TFormVardo::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!FPlaced && isWindow()) {
        FPlaced = true;
        if (const QScreen* s = screen())
            move(s->availableGeometry().center() - frameGeometry().center() + pos());
    }
}

void TFormVardo::BitBtn1Click(QObject*)
{
    if (AboutBox != nullptr)
        AboutBox->ShowDialog();
}

void TFormVardo::Timer1Timer(QObject*)
{
    // As on Windows, where a timer's tick waits while a paint is due, the window shows first and
    // the dialog then opens over it. A shown window that does not paint (one started minimised)
    // holds the dialog back a second at most.
    if (isVisible() && !FPainted && FMade.elapsed() < 1000)
        return;
    // The icon too: drawn from vector artwork at every size the window system may show, a few
    // milliseconds, it would hold the first paint back.
    setWindowIcon(QIcon(QStringLiteral(":/ProgramIcon.svg")));
    if (AboutBox1 != nullptr)
        AboutBox1->ShowDialog();
    Timer1->stop();
}
