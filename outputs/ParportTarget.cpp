#include "ParportTarget.h"

#include "DeviceErrors.h"
#include "Targets.h"
#include "core/Schedule.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

TParportCalls& ParportCalls()
{
    static TParportCalls calls{
        [](const char* path, int flags) { return ::open(path, flags); },
        [](int fd, unsigned long request, void* argument) {
            return ::ioctl(fd, request, argument);
        },
        [](int fd) { return ::close(fd); },
    };
    return calls;
}

// How long a claim waits for another driver (lp printing) to let the port go.
constexpr long ClaimBoundMs = 2000;

// The claim waits in the kernel, where a signal interrupts it: a timer of the claiming thread
// sends one when the bound has passed. The signal does nothing else.
class TClaimBound
{
public:
    TClaimBound()
    {
        static const bool installed = [] {
            struct sigaction action
            {
            };
            action.sa_handler = [](int) {};
            sigemptyset(&action.sa_mask);
            action.sa_flags = 0; // no SA_RESTART: the claim returns EINTR
            return ::sigaction(Signal(), &action, nullptr) == 0;
        }();
        sigevent event{};
        event.sigev_notify = SIGEV_THREAD_ID;
        event.sigev_signo = Signal();
        event._sigev_un._tid = static_cast<pid_t>(::syscall(SYS_gettid));
        if (!installed || ::timer_create(CLOCK_MONOTONIC, &event, &FTimer) != 0)
            return;
        FArmed = true;
        itimerspec when{};
        when.it_value.tv_sec = ClaimBoundMs / 1000;
        when.it_value.tv_nsec = (ClaimBoundMs % 1000) * 1000000;
        ::timer_settime(FTimer, 0, &when, nullptr);
    }
    ~TClaimBound()
    {
        if (FArmed)
            ::timer_delete(FTimer);
    }
    TClaimBound(const TClaimBound&) = delete;
    TClaimBound& operator=(const TClaimBound&) = delete;

private:
    static int Signal() { return SIGRTMIN + 2; }
    timer_t FTimer{};
    bool FArmed = false;
};

const TDeviceWords ParportWords{
    QStringLiteral("el puerto paralelo"), QStringLiteral("lp"),
    QStringLiteral("compruebe la tarjeta y que los módulos parport_pc y ppdev están cargados "
                   "(sudo modprobe -a parport_pc ppdev)")};

class TParportTarget final : public TOutputTarget
{
public:
    TParportTarget(const QString& name, const TParportAddress& address)
        : TOutputTarget(name), FDevice(address.Device.toLocal8Bit()),
          FHeartbeat(address.HeartbeatBit >= 0 ? 1u << address.HeartbeatBit : 0u)
    {
    }
    ~TParportTarget() override { Close(); }
    TParportTarget(const TParportTarget&) = delete;
    TParportTarget& operator=(const TParportTarget&) = delete;

    bool Open() override
    {
        Close();
        FCalls = ParportCalls();
        const int fd = FCalls.Open(FDevice.constData(), O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            const int error = errno;
            return Fail(DeviceOpenError(ParportWords, error), SystemWords(error));
        }
        // Another driver (lp printing) may hold the port for a moment; the claim waits for it,
        // but not for ever.
        int claimed = -1;
        {
            const TClaimBound bound;
            claimed = FCalls.Ioctl(fd, PPCLAIM, nullptr);
        }
        if (claimed < 0) {
            // Interrupted by the bound: another driver holds the port.
            const int original = errno;
            const int error = original == EINTR ? EBUSY : original;
            FCalls.Close(fd);
            return Fail(DeviceOpenError(ParportWords, error), SystemWords(original));
        }
        FFd = fd;
        return true;
    }

    bool Write(std::uint8_t word, int /*previous*/) override
    {
        FWord = word & OutputsMask;
        return Put();
    }

    // The heartbeat's line the other way.
    bool Service() override
    {
        if (FHeartbeat == 0)
            return true;
        FBeat = !FBeat;
        return Put();
    }

    std::chrono::milliseconds ServiceWithin() const override
    {
        return std::chrono::milliseconds(FHeartbeat != 0 ? HeartbeatHalfPeriodMs : 0);
    }

    // The heartbeat stops, low.
    void Leave() override
    {
        if (FHeartbeat == 0)
            return;
        FBeat = false;
        Put();
    }

    QString LockKey() const override
    {
        return QStringLiteral("parport:") + DevicePath(QFile::decodeName(FDevice));
    }

    void Close() override
    {
        if (FFd < 0)
            return;
        FCalls.Ioctl(FFd, PPRELEASE, nullptr);
        FCalls.Close(FFd);
        FFd = -1;
    }

private:
    // The six outputs and the heartbeat; a data line without a use stays low.
    bool Put()
    {
        if (FFd < 0)
            return Fail(QStringLiteral("el puerto paralelo no está abierto"));
        unsigned char data = FWord | (FBeat ? FHeartbeat : 0u);
        if (FCalls.Ioctl(FFd, PPWDATA, &data) < 0) {
            const int error = errno;
            return Fail(SystemError(QStringLiteral("escribir en el puerto paralelo"), error),
                        SystemWords(error));
        }
        return true;
    }

    QByteArray FDevice;
    unsigned FHeartbeat; // its bit of the data register; 0: none
    TParportCalls FCalls;
    int FFd = -1;
    unsigned FWord = 0;
    bool FBeat = false;
};

} // namespace

TScopedParportCalls::TScopedParportCalls(TParportCalls calls)
    : TScopedOverride(ParportCalls(), std::move(calls))
{
}

std::unique_ptr<TOutputTarget> MakeTarget(const QString& name, const TParportAddress& address)
{
    return std::make_unique<TParportTarget>(name, address);
}
