#include "Outputs.h"

#include <QMetaObject>
#include <QThread>
#include <QTime>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>

namespace {

constexpr std::chrono::milliseconds FirstRetry{500};
constexpr std::chrono::milliseconds LongestRetry{5000};

} // namespace

QString OutputsOf(std::uint8_t word)
{
    QStringList on;
    for (int n = 0; n < 6; ++n)
        if (word & (1u << n))
            on << QStringLiteral("D%1").arg(n);
    return on.isEmpty() ? QStringLiteral("todas apagadas") : on.join(u' ');
}

void LogOutputs(const QString& line)
{
    const QByteArray text =
        (QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")) + u' ' + line + u'\n')
            .toLocal8Bit();
    std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), stderr);
    std::fflush(stderr);
}

// Runs on the outputs' thread; owns the targets.
class TOutputWorker : public QObject
{
    Q_OBJECT
public:
    struct TSlot
    {
        std::unique_ptr<TOutputTarget> Target;
        bool Open = false;
        bool Reported = false; // this loss has been reported
        bool EverOpen = false;
        int Shown = -1; // the word the target shows; -1 unknown
        std::chrono::milliseconds Pause = FirstRetry;
        QTimer* Retry = nullptr;
    };

    TOutputWorker(std::vector<std::unique_ptr<TOutputTarget>> targets,
                  std::chrono::milliseconds servicePeriod)
        : FServicePeriod(servicePeriod)
    {
        for (auto& target : targets)
            FSlots.push_back(TSlot{std::move(target)});
    }

    std::atomic<int> Wanted{0};
    std::atomic<bool> ApplyPosted{false};

    // Opens every target, all off.
    void Begin()
    {
        FService = new QTimer(this);
        FService->setInterval(FServicePeriod);
        connect(FService, &QTimer::timeout, this, [this] { ServiceAll(); });
        FService->start();
        for (TSlot& slot : FSlots) {
            slot.Retry = new QTimer(this);
            slot.Retry->setSingleShot(true);
            connect(slot.Retry, &QTimer::timeout, this, [this, &slot] { TryOpen(slot); });
            TryOpen(slot);
        }
    }

    void Apply()
    {
        ApplyPosted = false;
        const auto word = static_cast<std::uint8_t>(Wanted.load());
        for (TSlot& slot : FSlots)
            if (slot.Open && slot.Shown != word)
                Send(slot, word);
    }

    // All off, flushed and closed, by the deadline.
    void End(std::chrono::steady_clock::time_point deadline)
    {
        if (FService != nullptr)
            FService->stop();
        for (TSlot& slot : FSlots) {
            if (slot.Retry != nullptr)
                slot.Retry->stop();
            if (!slot.Open)
                continue;
            if (slot.Shown != 0)
                Send(slot, 0);
        }
        for (TSlot& slot : FSlots)
            if (slot.Open)
                slot.Target->Flush(deadline);
        for (TSlot& slot : FSlots)
            if (slot.Open) {
                slot.Target->Close();
                slot.Open = false;
            }
    }

Q_SIGNALS:
    void Trouble(const QString& message);

private:
    void TryOpen(TSlot& slot)
    {
        if (!slot.Target->Open()) {
            Lost(slot, false);
            return;
        }
        slot.Open = true;
        slot.Pause = FirstRetry;
        if (slot.Reported)
            LogOutputs(QStringLiteral("%1: de nuevo disponible").arg(slot.Target->Name()));
        slot.Reported = false;
        // Right after an open the target's state is not known: every output is set. The first
        // time that is all off (nothing switches before the program says so); after a loss, the
        // current word at once.
        const auto wanted = static_cast<std::uint8_t>(Wanted.load());
        Send(slot, slot.EverOpen ? wanted : 0, true);
        slot.EverOpen = true;
        if (slot.Open && slot.Shown != wanted)
            Send(slot, wanted);
    }

    void Send(TSlot& slot, std::uint8_t word, bool unknown = false)
    {
        if (!slot.Target->Write(word, unknown ? -1 : slot.Shown)) {
            Lost(slot, true);
            return;
        }
        slot.Shown = word;
        LogOutputs(QStringLiteral("%1: 0x%2 (%3)")
                       .arg(slot.Target->Name())
                       .arg(word, 2, 16, QLatin1Char('0'))
                       .arg(OutputsOf(word)));
    }

    void ServiceAll()
    {
        for (TSlot& slot : FSlots)
            if (slot.Open && !slot.Target->Service())
                Lost(slot, true);
    }

    // The target failed to open, or was lost: closed, reported once, opened again later.
    void Lost(TSlot& slot, bool wasOpen)
    {
        if (wasOpen) {
            slot.Target->Close();
            slot.Open = false;
        }
        slot.Shown = -1;
        const QString message =
            QStringLiteral("Salida %1: %2").arg(slot.Target->Name(), slot.Target->Error());
        if (!slot.Reported) {
            slot.Reported = true;
            LogOutputs(message);
            Q_EMIT Trouble(message);
        }
        slot.Retry->start(slot.Pause);
        slot.Pause = std::min(slot.Pause * 2, LongestRetry);
    }

    std::vector<TSlot> FSlots;
    std::chrono::milliseconds FServicePeriod;
    QTimer* FService = nullptr;
};

TOutputs::TOutputs(std::vector<std::unique_ptr<TOutputTarget>> targets, QObject* parent,
                   std::chrono::milliseconds servicePeriod)
    : QObject(parent), FCount(targets.size())
{
    if (FCount == 0)
        return;
    FThread = std::make_unique<QThread>();
    FThread->setObjectName(QStringLiteral("Salidas"));
    FWorker = new TOutputWorker(std::move(targets), servicePeriod);
    FWorker->moveToThread(FThread.get());
    connect(FThread.get(), &QThread::finished, FWorker, &QObject::deleteLater);
    connect(FWorker, &TOutputWorker::Trouble, this, &TOutputs::Trouble, Qt::QueuedConnection);
}

TOutputs::~TOutputs()
{
    Stop();
}

void TOutputs::Start()
{
    if (FWorker == nullptr || FThread->isRunning() || FStopped)
        return;
    FThread->start();
    QMetaObject::invokeMethod(
        FWorker, [worker = FWorker] { worker->Begin(); }, Qt::QueuedConnection);
}

void TOutputs::Write(std::uint8_t word)
{
    if (FWorker == nullptr || FStopped)
        return;
    FWorker->Wanted = word & 0x3F;
    if (!FWorker->ApplyPosted.exchange(true))
        QMetaObject::invokeMethod(
            FWorker, [worker = FWorker] { worker->Apply(); }, Qt::QueuedConnection);
}

void TOutputs::Stop(std::chrono::milliseconds bound)
{
    if (FWorker == nullptr || FStopped)
        return;
    FStopped = true;
    if (!FThread->isRunning()) {
        delete FWorker; // never started
        FWorker = nullptr;
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + bound;
    QMetaObject::invokeMethod(
        FWorker,
        [worker = FWorker, deadline] {
            worker->End(deadline);
            QThread::currentThread()->quit();
        },
        Qt::QueuedConnection);
    // A little beyond the bound: what the targets were told to be done with by then.
    if (!FThread->wait(QDeadlineTimer(bound + std::chrono::milliseconds(250)))) {
        LogOutputs(QStringLiteral("las salidas no terminaron a tiempo; pueden quedar encendidas"));
        // A thread still running cannot be destroyed; the process ends without it.
        (void)FThread.release();
    }
}

#include "Outputs.moc"
