// The LCUS target: the cheap USB relay modules with a CH340 serial chip ("LCUS-1", "-2", "-4",
// "-8"), at 9600 baud. A relay is switched by a frame of four bytes, A0 CHANNEL STATE SUM, the
// channel from 1, the state 1 for on, the sum that of the first three bytes modulo 256; one frame
// per relay that changes. Output Dn drives channel n + 1; a board with fewer channels leaves the
// outputs beyond them unused, and says so once.
//
// The byte FF asks a board for its relays, which it tells as text ("CH1:OFF", "CH2:ON" ...): asked
// at every open, so that the first word sends only what differs from what the board shows. A board
// that does not answer within 200 ms is told every relay, on and off alike: it may show anything.
// At every end every relay is told off, whatever the board said.

#include "DeviceErrors.h"
#include "SerialLine.h"
#include "Targets.h"
#include "core/Log.h"

#include <QRegularExpression>

#include <algorithm>
#include <chrono>
#include <memory>

namespace {

constexpr qint32 LcusBaud = 9600;
constexpr std::chrono::milliseconds AnswerWithin{200};

class TLcusTarget final : public TOutputTarget
{
public:
    TLcusTarget(const QString& name, const TLcusAddress& address)
        : TOutputTarget(name), FDevice(address.Device), FChannels(address.Channels)
    {
    }
    ~TLcusTarget() override { Close(); }
    TLcusTarget(const TLcusTarget&) = delete;
    TLcusTarget& operator=(const TLcusTarget&) = delete;

    bool Open() override
    {
        Close();
        QString error;
        QString detail;
        if (!FLine.Open(FDevice, LcusBaud, error, detail))
            return Fail(error, detail);
        if (!FSaidUnused && FChannels < OutputCount) {
            FSaidUnused = true;
            QStringList unused;
            for (int n = FChannels; n < OutputCount; ++n)
                unused << QStringLiteral("D%1").arg(n);
            LogLine(QStringLiteral("%1: la placa tiene %2 relés; %3 no conmutan nada aquí")
                        .arg(Name())
                        .arg(FChannels)
                        .arg(unused.join(u' ')));
        }
        FShown = AskRelays();
        return !FLine.Lost() || Fail(TSerialLine::LostError(), FLine.Detail());
    }

    bool Write(std::uint8_t word, int previous) override
    {
        if (!FLine.IsOpen())
            return Fail(QStringLiteral("el dispositivo no está abierto"));
        // Right after an open, what the board said it shows; when it said nothing, every relay.
        const int shown = previous >= 0 ? previous : FShown;
        QByteArray frames;
        for (int channel = 1; channel <= std::min(FChannels, OutputCount); ++channel) {
            const int bit = 1 << (channel - 1);
            if (shown >= 0 && ((word ^ shown) & bit) == 0)
                continue;
            frames += Frame(channel, (word & bit) != 0);
        }
        if (!frames.isEmpty() && !FLine.Send(frames))
            return Fail(TSerialLine::LostError(), FLine.Detail());
        FShown = word;
        return true;
    }

    // Every relay gets its off frame: a board's answer may be wrong (one that says all off while
    // relays are on), and an end must not leave a relay on because the board said so.
    bool SwitchOff(int /*shown*/) override
    {
        if (!FLine.IsOpen())
            return Fail(QStringLiteral("el dispositivo no está abierto"));
        QByteArray frames;
        for (int channel = 1; channel <= std::min(FChannels, OutputCount); ++channel)
            frames += Frame(channel, false);
        if (!FLine.Send(frames))
            return Fail(TSerialLine::LostError(), FLine.Detail());
        FShown = 0;
        return true;
    }

    bool Service() override
    {
        if (!FLine.IsOpen())
            return Fail(QStringLiteral("el dispositivo no está abierto"));
        FLine.Take(); // a board speaks only when asked
        return !FLine.Lost() || Fail(TSerialLine::LostError(), FLine.Detail());
    }

    void Flush(std::chrono::steady_clock::time_point deadline) override { FLine.Flush(deadline); }

    // The same lock as a serial target on the device: one of them at a time.
    QString LockKey() const override { return QStringLiteral("serial:") + DevicePath(FDevice); }

    void Close() override
    {
        FLine.Close();
        FShown = -1;
    }

private:
    // The frame that sets one relay.
    static QByteArray Frame(int channel, bool on)
    {
        const auto start = static_cast<unsigned char>(0xA0);
        const auto number = static_cast<unsigned char>(channel);
        const auto state = static_cast<unsigned char>(on ? 1 : 0);
        const auto sum = static_cast<unsigned char>(start + number + state);
        const char frame[] = {char(start), char(number), char(state), char(sum)};
        return QByteArray(frame, sizeof frame);
    }

    // The relays as the board tells them, as a word (bit n: channel n + 1); -1 when it does not
    // answer, or not about every channel that is driven.
    int AskRelays()
    {
        if (!FLine.Send(QByteArray(1, char(0xFF))))
            return -1;
        static const QRegularExpression relay(QStringLiteral("CH(\\d+)\\s*:\\s*(ON|OFF)"),
                                              QRegularExpression::CaseInsensitiveOption);
        const auto deadline = std::chrono::steady_clock::now() + AnswerWait(AnswerWithin);
        const int driven = std::min(FChannels, OutputCount);
        QByteArray answer;
        for (;;) {
            int word = 0;
            int told = 0;
            for (auto match = relay.globalMatch(QString::fromLatin1(answer)); match.hasNext();) {
                const auto found = match.next();
                const int channel = found.captured(1).toInt();
                if (channel < 1 || channel > driven)
                    continue;
                told |= 1 << (channel - 1);
                if (found.captured(2).compare(QLatin1String("ON"), Qt::CaseInsensitive) == 0)
                    word |= 1 << (channel - 1);
            }
            if (told == (1 << driven) - 1)
                return word;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || FLine.Lost())
                return -1;
            answer += FLine.Take(left);
        }
    }

    QString FDevice;
    int FChannels;
    TSerialLine FLine;
    int FShown = -1; // the relays as the board showed them at the open; -1: not known
    bool FSaidUnused = false;
};

} // namespace

std::unique_ptr<TOutputTarget> MakeTarget(const QString& name, const TLcusAddress& address)
{
    return std::make_unique<TLcusTarget>(name, address);
}
