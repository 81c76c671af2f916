#include "ParportTarget.h"

#include "DeviceErrors.h"
#include "Targets.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
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

const TDeviceWords ParportWords{
    QStringLiteral("el puerto paralelo"), QStringLiteral("lp"),
    QStringLiteral("compruebe la tarjeta y que los módulos parport_pc y ppdev están cargados "
                   "(sudo modprobe -a parport_pc ppdev)")};

class TParportTarget final : public TOutputTarget
{
public:
    explicit TParportTarget(const TTargetSpec& spec)
        : TOutputTarget(spec.Name), FDevice(spec.Device.toLocal8Bit())
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
        if (fd < 0)
            return Fail(DeviceOpenError(ParportWords, errno));
        // Another driver (lp printing) may hold the port for a moment; the claim waits for it.
        if (FCalls.Ioctl(fd, PPCLAIM, nullptr) < 0) {
            const int error = errno;
            FCalls.Close(fd);
            return Fail(DeviceOpenError(ParportWords, error));
        }
        FFd = fd;
        return true;
    }

    bool Write(std::uint8_t word, int /*previous*/) override
    {
        if (FFd < 0)
            return Fail(QStringLiteral("el puerto paralelo no está abierto"));
        unsigned char data = word & OutputBits;
        if (FCalls.Ioctl(FFd, PPWDATA, &data) < 0)
            return Fail(SystemError(QStringLiteral("escribir en el puerto paralelo"), errno));
        return true;
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
    // The six outputs; data lines D6 and D7 stay low.
    static constexpr unsigned char OutputBits = 0x3F;

    QByteArray FDevice;
    TParportCalls FCalls;
    int FFd = -1;
};

} // namespace

TScopedParportCalls::TScopedParportCalls(TParportCalls calls)
    : TScopedOverride(ParportCalls(), std::move(calls))
{
}

std::unique_ptr<TOutputTarget> MakeParportTarget(const TTargetSpec& spec)
{
    return std::make_unique<TParportTarget>(spec);
}
