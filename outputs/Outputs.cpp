#include "Outputs.h"

#include "core/Log.h"
#include "core/Schedule.h"
#include "outputs/TargetLock.h"

#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>

namespace {

// A target's health, written by its thread and read by any.
class THealthBox
{
public:
    explicit THealthBox(const QString& name) { FHealth.Name = name; }
    void Opened()
    {
        const std::lock_guard lock(FLock);
        FHealth.Open = true;
        FHealth.Held = false;
        FHealth.LostSince = {};
        FHealth.Why.clear();
    }
    void Lost(const QString& why, bool held)
    {
        const std::lock_guard lock(FLock);
        if (FHealth.Open || !FHealth.LostSince.isValid())
            FHealth.LostSince = QDateTime::currentDateTime();
        FHealth.Open = false;
        FHealth.Held = held;
        FHealth.Why = why;
        FHealth.Shown = -1;
    }
    void Showed(std::uint8_t word)
    {
        const std::lock_guard lock(FLock);
        FHealth.Shown = word;
    }
    TTargetHealth Get() const
    {
        const std::lock_guard lock(FLock);
        return FHealth;
    }

private:
    mutable std::mutex FLock;
    TTargetHealth FHealth;
};

constexpr std::chrono::milliseconds FirstRetry{500};
constexpr std::chrono::milliseconds LongestRetry{5000};

} // namespace

// Drives one target, on a thread of its own: a target that hangs in a call (a broker that
// never answers, a port that another program holds) holds up no other.
class TTargetDriver : public QObject
{
    Q_OBJECT
public:
    TTargetDriver(std::unique_ptr<TOutputTarget> target, std::chrono::milliseconds servicePeriod)
        : FTarget(std::move(target)), Health(std::make_shared<THealthBox>(FTarget->Name())),
          FServicePeriod(servicePeriod)
    {
        if (const QString key = FTarget->LockKey(); !key.isEmpty())
            FLock = std::make_unique<TTargetLock>(key);
    }

    std::atomic<int> Wanted{0};
    std::atomic<bool> ApplyPosted{false};

    TOutputTarget& Target() { return *FTarget; }

    // Opens the target, all off.
    void Begin()
    {
        FService = new QTimer(this);
        const auto within = FTarget->ServiceWithin();
        FService->setInterval(within > std::chrono::milliseconds(0)
                                  ? std::min(within, FServicePeriod)
                                  : FServicePeriod);
        connect(FService, &QTimer::timeout, this, [this] { Service(); });
        FService->start();
        FRetry = new QTimer(this);
        FRetry->setSingleShot(true);
        connect(FRetry, &QTimer::timeout, this, [this] { TryOpen(); });
        TryOpen();
    }

    void Apply()
    {
        ApplyPosted = false;
        const auto word = static_cast<std::uint8_t>(Wanted.load());
        if (IsOpen() && FShown != word)
            Send(word);
    }

    // All off, flushed and closed, by the deadline. False when the target may still show an
    // output on.
    bool End(std::chrono::steady_clock::time_point deadline)
    {
        if (FService != nullptr)
            FService->stop();
        if (FRetry != nullptr)
            FRetry->stop();
        if (IsOpen()) {
            if (FTarget->SwitchOff(FShown)) {
                if (FShown != 0)
                    Shown(0);
            } else {
                Lost(true);
            }
        }
        if (IsOpen()) {
            FTarget->Leave();
            FTarget->Flush(deadline);
            // What did not reach the device by the deadline may not have switched it off.
            FOff = FOff && FTarget->Delivered();
            FTarget->Close();
            FLink = TLink::Closed;
        }
        if (FLock)
            FLock->Release();
        if (!FOff)
            LogLine(QStringLiteral("Salida %1: no se pudo apagar; puede quedar encendida")
                        .arg(FTarget->Name()));
        return FOff;
    }

Q_SIGNALS:
    void Trouble(const QString& message);
    void Held(const QString& message);

private:
    void TryOpen()
    {
        // Another program drives it: this one waits until it lets it go.
        if (QString holder; FLock && !FLock->Take(holder)) {
            Lost(false, QStringLiteral("la usa %1; se usará aquí cuando la deje").arg(holder), {},
                 true);
            return;
        }
        if (!FTarget->Open()) {
            Lost(false);
            return;
        }
        FLink = FLink == TLink::Lost ? TLink::Back : TLink::Open;
        Health->Opened();
        // Right after an open the target's state is not known: every output is set, to the word
        // the program wants now: all off until it says otherwise. A program that knows its word
        // before it starts its outputs (the timer started again after a crash) sends that word at
        // once, not all off and then the word: on a plug that would be a blip of its power.
        Send(static_cast<std::uint8_t>(Wanted.load()), true);
    }

    void Send(std::uint8_t word, bool unknown = false)
    {
        if (!FTarget->Write(word, unknown ? -1 : FShown)) {
            Lost(true);
            return;
        }
        Shown(word);
    }

    // The target shows `word` now: noted and logged.
    void Shown(std::uint8_t word)
    {
        FShown = word;
        Health->Showed(word);
        FOff = word == 0;
        LogLine(QStringLiteral("%1: 0x%2 (%3)")
                    .arg(FTarget->Name())
                    .arg(word, 2, 16, QLatin1Char('0'))
                    .arg(WordText(word)));
        Confirm();
    }

    void Service()
    {
        if (!IsOpen())
            return;
        if (!FTarget->Service())
            Lost(true);
        else
            Confirm();
    }

    // A loss is over once a write has gone through: only then is a new one reported again, and
    // only then does the pause before the next attempt start short again.
    void Confirm()
    {
        if (FLink != TLink::Back || !FTarget->Delivered())
            return;
        FLink = TLink::Open;
        FPause = FirstRetry;
        LogLine(QStringLiteral("%1: de nuevo disponible").arg(FTarget->Name()));
    }

    // The target failed to open, or was lost: closed, reported once, opened again later.
    void Lost(bool wasOpen) { Lost(wasOpen, FTarget->Error(), FTarget->Detail()); }
    void Lost(bool wasOpen, const QString& error, const QString& detail = {}, bool held = false)
    {
        if (wasOpen)
            FTarget->Close();
        const bool reported = FLink == TLink::Lost || FLink == TLink::Back;
        FLink = reported ? TLink::Lost : TLink::Closed;
        FShown = -1;
        Health->Lost(error, held);
        // A connection given up because the program ends is no loss to report.
        if (FTarget->StopRequested())
            return;
        const QString message = QStringLiteral("Salida %1: %2").arg(FTarget->Name(), error);
        FLink = TLink::Lost;
        if (!reported) {
            LogLine(detail.isEmpty() ? message : QStringLiteral("%1 [%2]").arg(message, detail));
            if (held)
                Q_EMIT Held(message);
            else
                Q_EMIT Trouble(message);
        }
        FRetry->start(FPause);
        FPause = std::min(FPause * 2, LongestRetry);
    }

    std::unique_ptr<TOutputTarget> FTarget;

public:
    const std::shared_ptr<THealthBox> Health;

private:
    std::unique_ptr<TTargetLock> FLock; // none for a target without a key
    std::chrono::milliseconds FServicePeriod;
    QTimer* FService = nullptr;
    QTimer* FRetry = nullptr;
    // Where the target stands: closed (never opened, or at the end); open; closed after a loss,
    // which was reported; open again after it, until a write has gone through (only then is a
    // new loss reported again).
    enum class TLink
    {
        Closed,
        Open,
        Lost,
        Back
    };
    TLink FLink = TLink::Closed;
    bool IsOpen() const { return FLink == TLink::Open || FLink == TLink::Back; }
    int FShown = -1;   // the word the target shows; -1 unknown
    bool FOff = false; // all off as far as the target confirmed (a loss keeps what it was); a
                       // target never reached may show anything
    std::chrono::milliseconds FPause = FirstRetry;
};

struct TOutputs::TDriven
{
    std::unique_ptr<QThread> Thread;
    TTargetDriver* Driver = nullptr; // lives on Thread, deleted when it ends
    std::shared_ptr<THealthBox> Health;
    QString Name; // kept here: a driver whose thread outlives Stop's wait may be gone any time
    std::atomic<bool> SwitchedOff{false};
};

TOutputs::TOutputs(std::vector<std::unique_ptr<TOutputTarget>> targets, QObject* parent,
                   std::chrono::milliseconds servicePeriod)
    : QObject(parent)
{
    for (auto& target : targets) {
        auto driven = std::make_unique<TDriven>();
        driven->Thread = std::make_unique<QThread>();
        driven->Driver = new TTargetDriver(std::move(target), servicePeriod);
        driven->Health = driven->Driver->Health;
        driven->Name = driven->Driver->Target().Name();
        driven->Thread->setObjectName(QStringLiteral("Salida"));
        driven->Driver->moveToThread(driven->Thread.get());
        connect(driven->Thread.get(), &QThread::finished, driven->Driver, &QObject::deleteLater);
        connect(driven->Driver, &TTargetDriver::Trouble, this, &TOutputs::Trouble,
                Qt::QueuedConnection);
        connect(driven->Driver, &TTargetDriver::Held, this, &TOutputs::Held, Qt::QueuedConnection);
        FDriven.push_back(std::move(driven));
    }
}

TOutputs::~TOutputs()
{
    Stop();
    // A last moment for a thread that was still in a call to its device at the end.
    const QDeadlineTimer last(100);
    for (auto& driven : FDriven)
        if (driven->Thread && !driven->Thread->wait(last)) {
            // A thread still in a call to its device goes with the process.
            (void)driven->Thread.release();
            (void)driven.release(); // its End may still write to SwitchedOff
        }
}

void TOutputs::Start()
{
    if (FStarted || FStopped)
        return;
    FStarted = true;
    for (const auto& driven : FDriven) {
        driven->Thread->start();
        QMetaObject::invokeMethod(
            driven->Driver, [driver = driven->Driver] { driver->Begin(); }, Qt::QueuedConnection);
    }
}

void TOutputs::Write(std::uint8_t word)
{
    if (FStopped)
        return;
    for (const auto& driven : FDriven) {
        TTargetDriver* driver = driven->Driver;
        driver->Wanted = word & OutputsMask;
        if (!driver->ApplyPosted.exchange(true))
            QMetaObject::invokeMethod(
                driver, [driver] { driver->Apply(); }, Qt::QueuedConnection);
    }
}

bool TOutputs::Stop(std::chrono::milliseconds bound)
{
    if (FStopped)
        return FAllOff;
    FStopped = true;
    if (!FStarted) {
        for (const auto& driven : FDriven)
            delete driven->Driver; // never started
        FDriven.clear();
        return FAllOff;
    }
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (const auto& driven : FDriven) {
        driven->Driver->Target().RequestStop();
        QMetaObject::invokeMethod(
            driven->Driver,
            [driver = driven->Driver, off = &driven->SwitchedOff, deadline] {
                *off = driver->End(deadline);
                QThread::currentThread()->quit();
            },
            Qt::QueuedConnection);
    }
    // A little beyond the bound: what the targets were told to be done with by then.
    const QDeadlineTimer waited(deadline + std::chrono::milliseconds(250));
    for (const auto& driven : FDriven) {
        if (driven->Thread->wait(waited)) {
            FAllOff = FAllOff && driven->SwitchedOff;
            continue;
        }
        // Still inside a call to its device: the thread cannot be ended. It is left to finish, or
        // to end with the process.
        LogLine(QStringLiteral("Salida %1: no responde; puede quedar encendida").arg(driven->Name));
        FAllOff = false;
    }
    return FAllOff;
}

#include "Outputs.moc"

std::vector<TTargetHealth> TOutputs::Health() const
{
    std::vector<TTargetHealth> health;
    for (const auto& driven : FDriven)
        health.push_back(driven->Health->Get());
    return health;
}
