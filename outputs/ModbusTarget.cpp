// The Modbus target: relay boards that speak Modbus, RTU on a serial line (RS-485 through a USB
// adapter) or TCP (their Ethernet twins), through libmodbus. The six outputs are the unit's coils 0
// to 5, all written in one request ("write multiple coils", function 15) at every change, so the
// relays change together. Every call waits for the board's answer, at most ResponseWithin: a board
// that does not answer holds up its own thread only.
//
// Each way a request can fail has its own sentence: the board refused it (an exception response:
// no such unit behind a gateway, no such coils), it did not answer (time-out), its answer came
// damaged (a bad CRC on the line), or the connection itself went. Between changes the coils are
// read every two seconds, so that a board that goes away is noticed without a change.

#include "DeviceErrors.h"
#include "Targets.h"

#include <modbus/modbus.h>

#include <QFile>

#include <cerrno>
#include <chrono>
#include <memory>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int CoilCount = OutputCount;
constexpr int FirstCoil = 0;
constexpr std::chrono::milliseconds ResponseWithin{500};
constexpr std::chrono::seconds LookEvery{2};

const TDeviceWords LineWords{QStringLiteral("el dispositivo"), QStringLiteral("dialout"),
                             QStringLiteral("compruebe que el adaptador RS-485 está conectado")};

struct TContextDeleter
{
    void operator()(modbus_t* context) const
    {
        modbus_close(context);
        modbus_free(context);
    }
};

class TModbusTarget final : public TOutputTarget
{
public:
    TModbusTarget(const QString& name, const TModbusAddress& address)
        : TOutputTarget(name), FAddress(address)
    {
    }
    ~TModbusTarget() override { Close(); }
    TModbusTarget(const TModbusTarget&) = delete;
    TModbusTarget& operator=(const TModbusTarget&) = delete;

    bool Open() override
    {
        Close();
        const QByteArray host = FAddress.Host.toUtf8();
        const QByteArray port = QByteArray::number(FAddress.Port);
        const QByteArray device = QFile::encodeName(FAddress.Device);
        std::unique_ptr<modbus_t, TContextDeleter> context(
            FAddress.Tcp ? modbus_new_tcp_pi(host.constData(), port.constData())
                         : modbus_new_rtu(device.constData(), FAddress.Baud, 'N', 8, 1));
        if (!context)
            return Fail(QStringLiteral("no se puede preparar la conexión Modbus"),
                        SystemWords(errno));
        modbus_set_slave(context.get(), FAddress.Unit);
        const auto within =
            std::chrono::duration_cast<std::chrono::microseconds>(AnswerWait(ResponseWithin));
        modbus_set_response_timeout(context.get(), std::uint32_t(within.count() / 1000000),
                                    std::uint32_t(within.count() % 1000000));
        if (modbus_connect(context.get()) != 0) {
            const int error = errno;
            if (FAddress.Tcp)
                return Fail(QStringLiteral("no se puede conectar con la placa Modbus %1:%2; "
                                           "compruebe que está encendida y que la dirección es la "
                                           "correcta")
                                .arg(FAddress.Host)
                                .arg(FAddress.Port),
                            QString::fromUtf8(modbus_strerror(error)));
            return Fail(DeviceOpenError(LineWords, error), SystemWords(error));
        }
        FContext = std::move(context);
        FLooked = Clock::now();
        return true;
    }

    bool Write(std::uint8_t word, int /*previous*/) override
    {
        if (!FContext)
            return Fail(QStringLiteral("la placa Modbus no está abierta"));
        std::uint8_t coils[CoilCount];
        for (int n = 0; n < CoilCount; ++n)
            coils[n] = (word >> n) & 1;
        if (modbus_write_bits(FContext.get(), FirstCoil, CoilCount, coils) != CoilCount)
            return Failed(errno);
        FLooked = Clock::now();
        return true;
    }

    bool Service() override
    {
        if (!FContext)
            return Fail(QStringLiteral("la placa Modbus no está abierta"));
        if (Clock::now() - FLooked < LookEvery)
            return true;
        FLooked = Clock::now();
        std::uint8_t coils[CoilCount];
        return modbus_read_bits(FContext.get(), FirstCoil, CoilCount, coils) == CoilCount ||
               Failed(errno);
    }

    QString LockKey() const override
    {
        return FAddress.Tcp ? QStringLiteral("modbus-tcp:%1:%2/%3")
                                  .arg(FAddress.Host.toLower())
                                  .arg(FAddress.Port)
                                  .arg(FAddress.Unit)
                            : QStringLiteral("serial:") + DevicePath(FAddress.Device);
    }

    void Close() override { FContext.reset(); }

private:
    // The sentence for a request that failed with `error`.
    bool Failed(int error)
    {
        const QString words = QString::fromUtf8(modbus_strerror(error));
        const QString unit = QString::number(FAddress.Unit);
        if (error == ETIMEDOUT)
            return Fail(QStringLiteral("la placa Modbus (unidad %1) no responde; compruebe que "
                                       "está encendida, el cable, la velocidad y el número de "
                                       "unidad")
                            .arg(unit),
                        words);
        if (error == EMBBADCRC)
            return Fail(QStringLiteral("las respuestas de la placa Modbus llegan dañadas (CRC); "
                                       "compruebe el cable RS-485, sus terminaciones y la "
                                       "velocidad"),
                        words);
        if (error > MODBUS_ENOBASE && error <= EMBXGTAR)
            return Fail(QStringLiteral("la placa Modbus (unidad %1) rechaza la orden (excepción "
                                       "%2); compruebe el número de unidad y que sus relés son "
                                       "las bobinas 0 a 5")
                            .arg(unit)
                            .arg(error - MODBUS_ENOBASE),
                        words);
        return Fail(QStringLiteral("se perdió la conexión con la placa Modbus; compruebe que "
                                   "sigue conectada"),
                    words);
    }

    TModbusAddress FAddress;
    std::unique_ptr<modbus_t, TContextDeleter> FContext;
    Clock::time_point FLooked; // the last request that went through
};

} // namespace

std::unique_ptr<TOutputTarget> MakeTarget(const QString& name, const TModbusAddress& address)
{
    return std::make_unique<TModbusTarget>(name, address);
}
