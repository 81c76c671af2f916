// Start-up of PrVardo's main window to its first paint, and the memory it holds then, against a
// bare Qt window measured in the same run, the kinds of window started in turn (medians of 60
// starts each). Each sample is a fresh process, timed from its start until it reports its first
// painted window (the report is read as it arrives; what the process does after, its exit, is
// not timed; a last line gives the ratio of whole processes, start to exit, as this benchmark
// measured them before). Two sets: on the offscreen platform, and on an Xvfb server of the
// benchmark's own (the xcb platform, where users start the program).
//
//   bench_startup [google benchmark options]
//                                 runs the benchmark and prints the ratios of both sets
//   bench_startup --child form    (internal) starts the program's window as the program does
//   bench_startup --child bare              a bare Qt window (a plain QApplication)
//   bench_startup --child label             a bare window with one line of text: the first
//                                 text a process draws loads the font database, which a window
//                                 without text never does
//   bench_startup --child text FILE         a bare window with the texts the program's window
//                                 shows at its first paint: for each font it uses, one label with
//                                 every character it shows in that font, the fonts' configuration
//                                 read as the program reads it. The font work any window showing
//                                 those texts has to do, whatever else it draws.
//   bench_startup --child form FILE         (internal) the program's window, which writes those
//                                 fonts and characters to FILE once painted
//
// Goal: start-up at most 1.3 times the bare window and memory at most 1.25 times, on both
// platforms.

#include "app/UnitVardo.h"
#include "bench/BenchSupport.h"
#include "platform/Application.h"
#include "platform/Fonts.h"
#include "platform/StringGrid.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFontInfo>
#include <QLabel>
#include <QProcess>
#include <QTabBar>
#include <QTemporaryFile>
#include <QWidget>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <future>
#include <map>
#include <string>
#include <vector>

namespace {


class FirstPaint : public QObject
{
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !done) {
            done = true;
            // Report after the paint has been handled.
            QMetaObject::invokeMethod(
                watched,
                [] {
                    std::printf("%ld\n", ResidentKb());
                    std::fflush(stdout);
                    QCoreApplication::exit(0);
                },
                Qt::QueuedConnection);
        }
        return false;
    }
    bool done = false;
};

// A font as the font library resolved it (family, pixel size, weight, italic): the same font in
// a plain application, which has none of the program's family substitutions.
QString ResolvedFont(const QFont& font)
{
    const QFontInfo info(font);
    return QStringLiteral("%1\t%2\t%3\t%4")
        .arg(info.family())
        .arg(info.pixelSize())
        .arg(info.weight())
        .arg(int(info.italic()));
}

// The characters each font of the shown window draws, as lines "family, pixel size, weight,
// italic, characters" separated by tabs. Labels, buttons, tabs and grid cells: the window's texts
// but the board's, which is drawn on another thread.
QByteArray ShownTexts(const QWidget& window)
{
    std::map<QString, QString> shown;
    const auto add = [&](const QFont& font, const QString& text) {
        QString& characters = shown[ResolvedFont(font)];
        for (const QChar c : text)
            if (c.isPrint() && !characters.contains(c))
                characters += c;
    };
    for (const QWidget* w : window.findChildren<QWidget*>()) {
        if (w->window() != &window || !w->isVisibleTo(&window))
            continue;
        if (const auto* label = qobject_cast<const QLabel*>(w))
            add(label->font(), label->text());
        else if (const auto* button = qobject_cast<const QAbstractButton*>(w))
            add(button->font(), button->text());
        else if (const auto* tabs = qobject_cast<const QTabBar*>(w))
            for (int i = 0; i < tabs->count(); ++i)
                add(tabs->font(), tabs->tabText(i));
        else if (const auto* grid = qobject_cast<const TStringGrid*>(w))
            for (int row = 0; row < grid->RowCount(); ++row)
                for (int col = 0; col < grid->ColCount(); ++col)
                    add(grid->CellFont(), grid->Cells(col, row));
    }
    QByteArray lines;
    for (const auto& [font, characters] : shown)
        if (!characters.isEmpty())
            lines += (font + QLatin1Char('\t') + characters + QLatin1Char('\n')).toUtf8();
    return lines;
}

// The window of `kind`; `texts`, for the text window, as the program's window wrote them.
std::unique_ptr<QWidget> MakeWindow(const char* kind, const QByteArray& texts)
{
    if (std::strcmp(kind, "form") == 0)
        return MakeMainWindow();
    auto window = std::make_unique<QWidget>();
    window->resize(664, 575);
    if (std::strcmp(kind, "label") == 0)
        new QLabel(QStringLiteral("Control de Brelom"), window.get());
    int y = 0;
    for (const QByteArray& line : texts.split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() != 5)
            continue;
        QFont font(QString::fromUtf8(fields[0]));
        font.setPixelSize(fields[1].toInt());
        font.setWeight(QFont::Weight(fields[2].toInt()));
        font.setItalic(fields[3].toInt() != 0);
        auto* label = new QLabel(QString::fromUtf8(fields[4]), window.get());
        label->setFont(font);
        label->move(0, y);
        y += fields[1].toInt();
    }
    return window;
}

int RunChild(int argc, char** argv, const char* kind, const char* textsFile)
{
    const bool form = std::strcmp(kind, "form") == 0;
    // The text window reads the fonts' configuration as the program does, on a thread while the
    // toolkit starts: what the program saves there is not counted against it.
    std::future<void> fonts;
    if (std::strcmp(kind, "text") == 0)
        fonts = std::async(std::launch::async, LoadFontConfiguration);
    // The references are bare Qt, a plain application object; the program's window starts with
    // the program's own, whose set-up (fonts, style, translations) is part of its start.
    const std::unique_ptr<QApplication> app = form ? std::make_unique<TApplication>(argc, argv)
                                                   : std::make_unique<QApplication>(argc, argv);
    if (fonts.valid())
        fonts.get();
    QByteArray texts;
    if (!form && textsFile != nullptr) {
        QFile file(QString::fromLocal8Bit(textsFile));
        if (!file.open(QIODevice::ReadOnly))
            return 1;
        texts = file.readAll();
    }
    FirstPaint watcher;
    const std::unique_ptr<QWidget> window = MakeWindow(kind, texts);
    window->installEventFilter(&watcher);
    window->show();
    const int status = QApplication::exec();
    if (form && textsFile != nullptr) {
        QFile file(QString::fromLocal8Bit(textsFile));
        if (!file.open(QIODevice::WriteOnly) || file.write(ShownTexts(*window)) <= 0)
            return 1;
    }
    return status;
}

std::string SelfPath;
QProcessEnvironment ChildEnvironment;
QString TextsFile; // the program window's texts, for the text window

// What the starts of one kind of window measured.
struct TStarts
{
    std::vector<double> paintedMs; // to the first paint's report
    std::vector<double> exitMs;    // from there to the end of the process
    double residentKb = 0;         // at the first paint, the last start's
};
std::map<std::string, TStarts> Starts; // by "set/kind"

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Starts one window of `kind` in a process of its own and records it; false when it failed.
bool StartOne(const std::string& set, const char* kind)
{
    QProcess child;
    child.setProcessEnvironment(ChildEnvironment);
    QElapsedTimer timer;
    timer.start();
    QStringList arguments = {QStringLiteral("--child"), QString::fromLatin1(kind)};
    if (std::strcmp(kind, "text") == 0)
        arguments << TextsFile;
    child.start(QString::fromStdString(SelfPath), arguments);
    bool reported = child.waitForStarted(30000);
    while (reported && !child.canReadLine())
        reported = child.waitForReadyRead(30000);
    const qint64 painted = timer.nsecsElapsed();
    if (!reported || !child.waitForFinished(30000) || child.exitCode() != 0)
        return false;
    TStarts& starts = Starts[set + "/" + kind];
    starts.paintedMs.push_back(double(painted) / 1e6);
    starts.exitMs.push_back(double(timer.nsecsElapsed() - painted) / 1e6);
    starts.residentKb = child.readLine().trimmed().toDouble();
    return true;
}

// Each iteration starts every kind once, in an order that turns from one iteration to the next,
// so that the machine's changing speed falls on all of them alike; the iteration's time is the
// program window's.
void StartWindows(benchmark::State& state, const std::string& set)
{
    static const char* const kinds[] = {"bare", "label", "text", "form"};
    constexpr size_t count = std::size(kinds);
    // What the text window shows, from the program's window on this platform.
    QProcess form;
    form.setProcessEnvironment(ChildEnvironment);
    form.start(QString::fromStdString(SelfPath),
               {QStringLiteral("--child"), QStringLiteral("form"), TextsFile});
    if (!form.waitForFinished(30000) || form.exitCode() != 0) {
        state.SkipWithError("the program's window did not report its texts");
        return;
    }
    size_t turn = 0;
    for (auto _ : state) {
        for (size_t i = 0; i < count; ++i)
            if (!StartOne(set, kinds[(turn + i) % count])) {
                state.SkipWithError("a child did not start its window");
                return;
            }
        ++turn;
        state.SetIterationTime(Starts[set + "/form"].paintedMs.back() / 1e3);
    }
    for (const char* kind : kinds) {
        const TStarts& starts = Starts[set + "/" + kind];
        state.counters[std::string(kind) + "_ms"] = Median(starts.paintedMs);
        state.counters[std::string(kind) + "_kB"] = starts.residentKb;
    }
}

void Register(const std::string& set)
{
    benchmark::RegisterBenchmark(("StartWindows/" + set).c_str(),
                                 [set](benchmark::State& state) { StartWindows(state, set); })
        ->UseManualTime()
        ->Iterations(60)
        ->Unit(benchmark::kMillisecond);
}

void PrintRatios(const std::string& set)
{
    const auto time = [&](const char* kind) { return Median(Starts[set + "/" + kind].paintedMs); };
    const auto memory = [&](const char* kind) { return Starts[set + "/" + kind].residentKb; };
    if (time("bare") <= 0 || memory("bare") <= 0) {
        std::printf("%s: no figures\n", set.c_str());
        return;
    }
    const double startup = time("form") / time("bare");
    const double rss = memory("form") / memory("bare");
    std::printf("%s: start-up ratio (main window / bare window): %.2f  (%.1f ms / %.1f ms)\n",
                set.c_str(), startup, time("form"), time("bare"));
    std::printf("%s: memory ratio (main window / bare window):   %.2f  (%.0f kB / %.0f kB)\n",
                set.c_str(), rss, memory("form"), memory("bare"));
    std::printf("%s: start-up ratio (main window / bare window with one label): %.2f\n",
                set.c_str(), time("form") / time("label"));
    std::printf("%s: memory ratio (main window / bare window with one label):   %.2f\n",
                set.c_str(), memory("form") / memory("label"));
    // The least any window showing the same texts needs.
    std::printf("%s: start-up ratio (window of the same texts / bare window): %.2f  (%.1f ms)\n",
                set.c_str(), time("text") / time("bare"), time("text"));
    std::printf("%s: memory ratio (window of the same texts / bare window):   %.2f  (%.0f kB)\n",
                set.c_str(), memory("text") / memory("bare"), memory("text"));
    std::printf("%s: start-up ratio (main window / window of the same texts): %.2f\n",
                set.c_str(), time("form") / time("text"));
    // As this benchmark measured before it stopped at the report: to the end of the process.
    const auto whole = [&](const char* kind) {
        return time(kind) + Median(Starts[set + "/" + kind].exitMs);
    };
    std::printf("%s: whole process ratio (start to exit, main window / bare window): %.2f\n",
                set.c_str(), whole("form") / whole("bare"));
    std::printf("%s: goal (start-up <= 1.3, memory <= 1.25): %s\n", set.c_str(),
                startup <= 1.3 && rss <= 1.25 ? "met" : "NOT met");
}

// An Xvfb server of the benchmark's own; its display, or nothing when it does not start.
QString StartXvfb(QProcess& xvfb)
{
    xvfb.start(QStringLiteral("Xvfb"),
               {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                QStringLiteral("0"), QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                QStringLiteral("tcp")});
    if (!xvfb.waitForStarted(10000))
        return {};
    while (!xvfb.canReadLine())
        if (!xvfb.waitForReadyRead(10000))
            return {};
    return QLatin1Char(':') + QString::fromLatin1(xvfb.readLine().trimmed());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "--child") == 0)
        return RunChild(argc, argv, argv[2], argc >= 4 ? argv[3] : nullptr);

    QCoreApplication app(argc, argv);
    SelfPath = QCoreApplication::applicationFilePath().toStdString();
    QTemporaryFile texts;
    if (!texts.open())
        return 1;
    TextsFile = texts.fileName();
    benchmark::Initialize(&argc, argv);
    benchmark::ConsoleReporter reporter;

    ChildEnvironment = QProcessEnvironment::systemEnvironment();
    ChildEnvironment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    Register("offscreen");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::ClearRegisteredBenchmarks();

    QProcess xvfb;
    const QString display = StartXvfb(xvfb);
    if (!display.isEmpty()) {
        ChildEnvironment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        ChildEnvironment.insert(QStringLiteral("DISPLAY"), display);
        Register("xcb");
        benchmark::RunSpecifiedBenchmarks(&reporter);
    } else {
        std::printf("xcb: Xvfb did not start, no figures on an X server\n");
    }
    xvfb.terminate();
    if (!xvfb.waitForFinished(10000))
        xvfb.kill();

    PrintRatios("offscreen");
    if (!display.isEmpty())
        PrintRatios("xcb");
    benchmark::Shutdown();
    return 0;
}
