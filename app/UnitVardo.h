#pragma once
// TFormVardo: the main window "Control de Brelom".
//
// A top panel with the clock read-out, decorative titles, and a page control with one schedule
// grid per output ("D0" to "D5") and the microphone page "VUMETRO". The grids show the
// schedule: a left press, a drag with the left button held or an arrow key landing on a cell
// toggles that slot of the page's output, and marked cells are painted red.
//
// The clock (`Temporiz`) walks a pointer through the day: at every tick it counts the simulated
// time, marks the current slot in all six grids, shows the six flags of that slot on the lamp
// pictures D0 to D5 and as OutputWord, and hands OutputWord to WritePort. Schedules are saved to
// and loaded from ".tem" files with the two buttons at the left of the top panel.
//
// On the page "VUMETRO", "Abrir" stops the clock and switches the microphone echo on
// (AudioRedirector1: what the sound card records is played straight back), "Cerrar" switches it
// off and "ECO on/off" sets the echo's volume. The peak level of every recorded buffer is shown
// on the progress bar AudioLevel, the LCD display, a running bar graph in the paint box `wave`,
// and as a level meter on the lamps D0 to D5, whose word also goes to WritePort.

#include "audio/WaveRedirector.h"
#include "controls/BSSGrid.h"
#include "controls/Frames.h"
#include "controls/JCheck.h"
#include "controls/JLAniBmp.h"
#include "controls/LCDControl.h"
#include "core/Clock.h"
#include "core/Schedule.h"
#include "core/TickTimer.h"
#include "dialogs/AboutVardo.h"
#include "dialogs/InfoVardo.h"
#include "platform/FileDialogs.h"
#include "platform/FramePacer.h"
#include "platform/StdControls.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <QWidget>

#include <array>
#include <cstdint>
#include <memory>

class TOutputs;

class TFormVardo : public QWidget
{
    Q_OBJECT
public:
    explicit TFormVardo(QWidget* parent = nullptr);
    // Switches the echo off and releases the sound devices before any control goes.
    ~TFormVardo() override;
    Q_DISABLE_COPY_MOVE(TFormVardo)

    // Controls, by the names the window gives them.
    TLabel* Label1 = nullptr;
    TLabel* Label2 = nullptr;
    TLabel* Label3 = nullptr;
    TLabel* Label5 = nullptr;
    TLabel* Label6 = nullptr;
    std::array<TLabel*, 12> LetterLabels{}; // Label7 .. Label18
    TLabel* Label19 = nullptr;
    TLabel* Label20 = nullptr;
    TLabel* Label23 = nullptr;
    TLabel* Label4 = nullptr;
    TLabel* cx = nullptr;
    TLabel* cy = nullptr;
    TPanel* Panel1 = nullptr;
    QTabWidget* PageControl1 = nullptr;
    QWidget* S1 = nullptr;
    QWidget* S2 = nullptr;
    QWidget* S3 = nullptr;
    QWidget* S4 = nullptr;
    QWidget* S5 = nullptr;
    QWidget* S6 = nullptr;
    QWidget* VUMETRO = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* TabSheet2 = nullptr;
    QWidget* TabSheet3 = nullptr;
    TBSSGrid* BSSGrid1 = nullptr;
    TBSSGrid* BSSGrid2 = nullptr;
    TBSSGrid* BSSGrid3 = nullptr;
    TBSSGrid* BSSGrid4 = nullptr;
    TBSSGrid* BSSGrid5 = nullptr;
    TBSSGrid* BSSGrid6 = nullptr;
    TBSSGrid* BSSGrid7 = nullptr;
    TBSSGrid* BSSGrid8 = nullptr;
    TBSSGrid* BSSGrid9 = nullptr;

    TAnimatedBitmap* AnimatedBitmap3 = nullptr;
    TAnimatedBitmap* AnimatedBitmap2 = nullptr;
    TPlayFrame* D0 = nullptr;
    TPlayFrame* D1 = nullptr;
    TPlayFrame* D2 = nullptr;
    TPlayFrame* D3 = nullptr;
    TPlayFrame* D4 = nullptr;
    TPlayFrame* D5 = nullptr;
    TPlayFrame* D6 = nullptr;
    TPlayFrame* D7 = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    TJCheck* LuzTimer = nullptr;
    QCheckBox* Velocidad = nullptr;
    TJCheck* JOn = nullptr;
    QSlider* TrackBar1 = nullptr;
    QPushButton* LoadGrid = nullptr;
    QPushButton* SaveGrid = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QTimer* Timer1 = nullptr;
    // The two information dialogs, made hidden by the program entry right after the window;
    // the window shows them (none in a window made without them).
    TAboutBox* AboutBox = nullptr;
    TAboutBox1* AboutBox1 = nullptr;
    // Where WritePort's word goes; none without targets. Not owned.
    TOutputs* Outputs = nullptr;
    TTickTimer* Temporiz = nullptr;
    // Brings the window's repaints to the screen at most once per display frame: the clock's
    // 1 ms ticks change labels, grids and lamps far more often than a screen shows.
    TFramePacer* Pacer = nullptr;
    TFileDialog OpenDialog1{TFileDialogKind::Open};
    TFileDialog SaveDialog1{TFileDialogKind::Save};

    // The microphone page, in creation order, and the two microphone controls beside the page
    // control.
    TPaintBox* wave = nullptr;
    TShape* Shape1 = nullptr;
    TLabel* pitch = nullptr;
    TLabel* Label21 = nullptr;
    TLabel* Label22 = nullptr;
    TLCDControl* LCDControl1 = nullptr;
    QPushButton* BtOpen = nullptr;
    QPushButton* BTClose = nullptr;
    QTextEdit* RichEdit1 = nullptr;
    QPushButton* PonerECO = nullptr;
    TRadioButton* CkActive = nullptr;
    QProgressBar* AudioLevel = nullptr;
    TAudioRedirector* AudioRedirector1 = nullptr;

    // The program's user data.
    TSchedule Schedule;

    // The clock's counters and the switching word of the current slot.
    TClockCounters Clock;
    std::uint8_t OutputWord = 0;

    // The microphone: switched on by "Abrir" (and until "Cerrar"), the echo's volume toggle, and
    // the left edge of the next bar in `wave`.
    bool AudioOpen = false;
    bool EcoOn = false;
    std::int32_t BarX = 0;

    // The grid that shows plane p (0 to 5).
    TBSSGrid* ScheduleGrid(int plane) const;
    // The lamp picture of output Dp (0 to 7).
    TPlayFrame* Lamp(int p) const;

    void FormCreate();

    void BSSGrid1DrawCell(QObject* Sender, int ACol, int ARow, TRect Rect, TGridDrawState State);
    void BSSGrid2DrawCell(QObject* Sender, int ACol, int ARow, TRect Rect, TGridDrawState State);
    void BSSGrid3DrawCell(QObject* Sender, int ACol, int ARow, TRect Rect, TGridDrawState State);
    void BSSGrid4DrawCell(QObject* Sender, int ACol, int ARow, TRect Rect, TGridDrawState State);
    void BSSGrid5DrawCell(QObject* Sender, int ACol, int ARow, TRect Rect, TGridDrawState State);
    void BSSGrid6DrawCell(QObject* Sender, int ACol, int ARow, TRect Rect, TGridDrawState State);
    void BSSGrid1SelectCell(QObject* Sender, int ACol, int ARow, bool& CanSelect);
    void BSSGrid2SelectCell(QObject* Sender, int ACol, int ARow, bool& CanSelect);
    void BSSGrid3SelectCell(QObject* Sender, int ACol, int ARow, bool& CanSelect);
    void BSSGrid4SelectCell(QObject* Sender, int ACol, int ARow, bool& CanSelect);
    void BSSGrid5SelectCell(QObject* Sender, int ACol, int ARow, bool& CanSelect);
    void BSSGrid6SelectCell(QObject* Sender, int ACol, int ARow, bool& CanSelect);

    void TemporizTimer(QObject* Sender);
    // The pointer step: wraps the day, marks the current slot in the six grids, and shows its
    // six flags on JOn, the lamps, OutputWord and Label4.
    void ShowPuntero();
    void SpeedButton1Click(QObject* Sender);
    void VelocidadClick(QObject* Sender);
    void PageControl1MouseUp(QObject* Sender);
    void LoadGridClick(QObject* Sender);
    void SaveGridClick(QObject* Sender);
    // The question-mark button: shows AboutBox without making it modal.
    void BitBtn1Click(QObject* Sender);
    // Right after start: shows AboutBox1 once, without making it modal, and stops Timer1.
    void Timer1Timer(QObject* Sender);

    void BtOpenClick(QObject* Sender);
    void BTCloseClick(QObject* Sender);
    void CkActiveClick(QObject* Sender);
    void PonerECOClick(QObject* Sender);
    void AudioRedirector1Activate(QObject* Sender);
    void AudioRedirector1Deactivate(QObject* Sender);
    void AudioRedirector1AudioInLevel(QObject* Sender, std::int32_t Level);
    // One level on the page: a bar in `wave` (10 px right of the last, the box cleared after
    // x = 400), the LCD number, and the level meter on WritePort and the lamps D0 to D5.
    void DibujarOnda(std::uint8_t v);

    // Hands a six-bit switching word to the power strip: to the outputs the user named, if any
    // (Outputs; it never waits), else nowhere.
    virtual void WritePort(std::uint8_t value);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void CreateBoard();
    void CreateTitles();
    void CreatePanel();
    void CreateLamps();
    // The board's two pictures and the lamps' strips, once the board sheet is drawn.
    void PlaceArtwork();
    void CreatePages();
    void CreateMicrophonePage();
    void CreateMicrophoneControls();
    void CreateComponents();
    void CreateRedirector();
    // What a screen reader says of the controls that show only pictures or a state: names,
    // the lamps' labels, the grids' slot descriptions, and the picture buttons' tooltips.
    void SetAccessibleNames();
    // A push button on `parent` whose click runs `click` (guarded) with the button as Sender.
    QPushButton* CreateButton(QWidget* parent, const QString& name, const QRect& geometry,
                              const QString& text, void (TFormVardo::*click)(QObject*));
    void RepaintScheduleGrids();
    TBSSGrid* CreateScheduleGrid(QWidget* page, const QString& name);
    void PaintMarkedCells(int plane);
    void ToggleSlot(int plane, int col, int row);

    bool FPlaced = false;
    // Whether the window has painted, and since when it exists: the information dialog and the
    // icon come after the first paint.
    bool FPainted = false;
    QElapsedTimer FMade;
};

// The window as the program opens it: the main window with its two information dialogs, made
// hidden; the window owns them.
std::unique_ptr<TFormVardo> MakeMainWindow();

// The colour of the window, its top panel and the microphone bar graph: RGB(54, 75, 86).
inline constexpr TColor FormColor = 5655350;
