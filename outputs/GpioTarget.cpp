#include "GpioTarget.h"

#include "DeviceErrors.h"
#include "Targets.h"

#include <QFile>
#include <gpiod.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace {

TGpioCalls& GpioCalls()
{
    static TGpioCalls calls{
        // A name ("gpiochip0"), a path, a number or a label.
        [](const char* chip) { return gpiod_chip_open_lookup(chip); },
        gpiod_chip_get_lines,
        [](gpiod_line_bulk* lines, const char* consumer, bool activeLow, const int* values) {
            return gpiod_line_request_bulk_output_flags(
                lines, consumer, activeLow ? GPIOD_LINE_REQUEST_FLAG_ACTIVE_LOW : 0, values);
        },
        gpiod_line_set_value_bulk,
        gpiod_line_release_bulk,
        gpiod_chip_close,
    };
    return calls;
}

const TDeviceWords GpioWords{QStringLiteral("el chip GPIO"), QStringLiteral("gpio"),
                             QStringLiteral("compruebe su nombre con gpiodetect")};

constexpr unsigned LineCount = OutputCount; // the outputs'; a heartbeat line comes after them
constexpr const char* Consumer = "PrVardo";

class TGpioTarget final : public TOutputTarget
{
public:
    TGpioTarget(const QString& name, const TGpioAddress& address)
        : TOutputTarget(name), FChipName(address.Chip.toLocal8Bit()),
          FCount(address.HeartbeatLine >= 0 ? LineCount + 1 : LineCount),
          FActiveLow(address.ActiveLow)
    {
        std::copy(address.Lines.begin(), address.Lines.end(), FOffsets.begin());
        FOffsets[LineCount] = unsigned(std::max(address.HeartbeatLine, 0));
    }
    ~TGpioTarget() override { Close(); }
    TGpioTarget(const TGpioTarget&) = delete;
    TGpioTarget& operator=(const TGpioTarget&) = delete;

    bool Open() override
    {
        Close();
        FCalls = GpioCalls();
        FChip = FCalls.OpenChip(FChipName.constData());
        if (!FChip) {
            const int error = errno;
            return Fail(DeviceOpenError(GpioWords, error), SystemWords(error));
        }
        if (FCalls.GetLines(FChip, FOffsets.data(), FCount, &FLines) < 0) {
            const int error = errno;
            CloseChip();
            return Fail(error == EINVAL
                            ? QStringLiteral("el chip GPIO no tiene todas las líneas "
                                             "pedidas; compruebe sus números con gpioinfo")
                            : SystemError(QStringLiteral("leer las líneas GPIO"), error),
                        SystemWords(error));
        }
        // Active-low is asked for the lines together: the heartbeat's value is given inverted
        // then, so that it starts, and stays between beats, physically low.
        std::array<int, MostLines> off{};
        if (FCount > LineCount)
            off[LineCount] = FActiveLow ? 1 : 0;
        if (FCalls.RequestOutputs(&FLines, Consumer, FActiveLow, off.data()) < 0) {
            const int error = errno;
            CloseChip();
            return Fail(error == EBUSY
                            ? QStringLiteral("las líneas GPIO están ocupadas por otro programa; "
                                             "gpioinfo muestra cuál las usa")
                            : DeviceOpenError(GpioWords, error),
                        SystemWords(error));
        }
        FRequested = true;
        return true;
    }

    bool Write(std::uint8_t word, int /*previous*/) override
    {
        FWord = word;
        return Put();
    }

    // The heartbeat's line the other way.
    bool Service() override
    {
        if (FCount == LineCount)
            return true;
        FBeat = !FBeat;
        return Put();
    }

    std::chrono::milliseconds ServiceWithin() const override
    {
        return std::chrono::milliseconds(FCount > LineCount ? HeartbeatHalfPeriodMs : 0);
    }

    // The heartbeat stops, low.
    void Leave() override
    {
        if (FCount == LineCount)
            return;
        FBeat = false;
        Put();
    }

    QString LockKey() const override
    {
        return QStringLiteral("gpio:") + DevicePath(QFile::decodeName(FChipName));
    }

    void Close() override
    {
        if (FRequested)
            FCalls.Release(&FLines);
        FRequested = false;
        CloseChip();
    }

private:
    bool Put()
    {
        if (!FRequested)
            return Fail(QStringLiteral("las líneas GPIO no están pedidas"));
        std::array<int, MostLines> values{};
        for (unsigned n = 0; n < LineCount; ++n)
            values[n] = (FWord >> n) & 1;
        if (FCount > LineCount)
            values[LineCount] = FBeat != FActiveLow ? 1 : 0;
        if (FCalls.SetValues(&FLines, values.data()) < 0) {
            const int error = errno;
            return Fail(SystemError(QStringLiteral("cambiar las líneas GPIO"), error),
                        SystemWords(error));
        }
        return true;
    }

    void CloseChip()
    {
        if (FChip)
            FCalls.CloseChip(FChip);
        FChip = nullptr;
    }

    static constexpr unsigned MostLines = LineCount + 1;
    QByteArray FChipName;
    std::array<unsigned, MostLines> FOffsets{}; // the six outputs', then the heartbeat's
    unsigned FCount;                            // six, or seven with a heartbeat
    bool FActiveLow;
    std::uint8_t FWord = 0;
    bool FBeat = false;
    TGpioCalls FCalls;
    gpiod_chip* FChip = nullptr;
    gpiod_line_bulk FLines{};
    bool FRequested = false;
};

} // namespace

TScopedGpioCalls::TScopedGpioCalls(TGpioCalls calls)
    : TScopedOverride(GpioCalls(), std::move(calls))
{
}

std::unique_ptr<TOutputTarget> MakeTarget(const QString& name, const TGpioAddress& address)
{
    return std::make_unique<TGpioTarget>(name, address);
}
