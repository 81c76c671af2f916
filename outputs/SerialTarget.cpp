// The serial target: a relay board on a serial device (an Arduino with a relay shield on USB),
// 8N1 at the baud the user names, one byte per change, the word itself (0 to 63).
//
// A board that starts again (an Arduino resets when its port is opened) cannot know the word: any
// byte it sends asks for the word again. A lost device (unplugged) is noticed by Service even when
// nothing is being written.
//
// While the port is open the word is sent again every second, also when it did not change: the
// board's sketch switches every relay off when no byte came for three seconds, so a board whose
// program died, froze or lost its cable does not keep an output on.

#include "DeviceErrors.h"
#include "SerialLine.h"
#include "Targets.h"
#include "core/TickTimer.h"

#include <chrono>
#include <memory>

namespace {

// The word goes again at a look once a second since the last byte (a tenth less: a look may come
// a little early); a program that looks more often than that does not send more. At the timer's
// pace the board hears a byte every second, at worst within two, well within its three; a look
// wakes the program only that often.
constexpr std::chrono::milliseconds HeartbeatCheck{1000};
constexpr std::chrono::milliseconds HeartbeatQuiet{900};

class TSerialTarget final : public TOutputTarget
{
public:
    TSerialTarget(const QString& name, const TSerialAddress& address)
        : TOutputTarget(name), FDevice(address.Device), FBaud(address.Baud)
    {
    }
    ~TSerialTarget() override { Close(); }
    TSerialTarget(const TSerialTarget&) = delete;
    TSerialTarget& operator=(const TSerialTarget&) = delete;

    bool Open() override
    {
        Close();
        QString error;
        QString detail;
        return FLine.Open(FDevice, FBaud, error, detail) || Fail(error, detail);
    }

    bool Write(std::uint8_t word, int /*previous*/) override
    {
        if (!FLine.IsOpen())
            return Fail(QStringLiteral("el dispositivo no está abierto"));
        if (!FLine.Send(QByteArray(1, static_cast<char>(word))))
            return Fail(TSerialLine::LostError(), FLine.Detail());
        FWord = word;
        FWritten = MonotonicMilliseconds();
        return true;
    }

    bool Service() override
    {
        if (!FLine.IsOpen())
            return Fail(QStringLiteral("el dispositivo no está abierto"));
        bool again = MonotonicMilliseconds() - FWritten >= HeartbeatQuiet.count();
        if (!FLine.Take().isEmpty())
            again = true;
        if (FLine.Lost())
            return Fail(TSerialLine::LostError(), FLine.Detail());
        if (again && FWord >= 0)
            return Write(static_cast<std::uint8_t>(FWord), FWord);
        return true;
    }

    std::chrono::milliseconds ServiceWithin() const override { return HeartbeatCheck; }

    void Flush(std::chrono::steady_clock::time_point deadline) override { FLine.Flush(deadline); }

    QString LockKey() const override { return QStringLiteral("serial:") + DevicePath(FDevice); }

    void Close() override
    {
        FLine.Close();
        FWord = -1;
    }

private:
    QString FDevice;
    qint32 FBaud;
    TSerialLine FLine;
    int FWord = -1;      // the last word written, for a board that asks again and for the heartbeat
    qint64 FWritten = 0; // the monotonic clock's milliseconds at the last byte
};

} // namespace

std::unique_ptr<TOutputTarget> MakeTarget(const QString& name, const TSerialAddress& address)
{
    return std::make_unique<TSerialTarget>(name, address);
}
