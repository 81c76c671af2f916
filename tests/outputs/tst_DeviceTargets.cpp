// The parallel port and GPIO targets on stand-ins of ppdev and of a GPIO chip: what reaches the
// data register or each pin for each word, and what the user is told when a device is refused.

#include "outputs/GpioTarget.h"
#include "outputs/ParportTarget.h"
#include "outputs/Targets.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <linux/ppdev.h>
#include <map>
#include <poll.h>
#include <set>
#include <sys/ioctl.h>

namespace {

// The steps of both kinds; one of them can be made to fail with an error number.
enum class TStep
{
    Open,    // open the device, or the chip
    Take,    // claim the port, or take the lines
    Request, // request the lines as outputs
    Write
};

struct TFailure
{
    TStep Step = TStep::Open;
    int Error = 0;
    bool At(TStep step) const
    {
        errno = Error;
        return Error != 0 && Step == step;
    }
};

// A port as ppdev shows it: its claim and its data register.
struct TFakePort
{
    static constexpr int Fd = 42;
    TFailure Failure;
    bool Open = false;
    bool Claimed = false;
    int Data = -1;

    TParportCalls Calls()
    {
        return {
            [this](const char* path, int) {
                Open = std::string_view(path) == "/dev/parport1" && !Failure.At(TStep::Open);
                return Open ? Fd : -1;
            },
            [this](int fd, unsigned long request, void* argument) {
                EXPECT_TRUE(Open && fd == Fd);
                if (request == PPCLAIM && !Failure.At(TStep::Take))
                    return int(Claimed = true);
                // A claim that waits for a port another driver holds, until a signal comes.
                if (request == PPCLAIM && Failure.Error == EINTR)
                    return ::poll(nullptr, 0, 60000);
                if (request == PPRELEASE)
                    return int(Claimed = false);
                if (request != PPWDATA || !Claimed || Failure.At(TStep::Write))
                    return -1;
                Data = *static_cast<unsigned char*>(argument);
                return 0;
            },
            [this](int fd) {
                EXPECT_TRUE(fd == Fd && !Claimed) << "port released first";
                Open = false;
                return 0;
            },
        };
    }
};

// A chip as libgpiod shows it: the physical level of each line it drives (an active-low line is
// inverted, as the kernel does).
struct TFakeChip
{
    TFailure Failure;
    bool Open = false;
    std::vector<unsigned> Taken;
    bool ActiveLow = false;
    std::map<unsigned, int> Level;

    gpiod_chip* Handle() { return reinterpret_cast<gpiod_chip*>(this); }
    int Drive(TStep step, const int* values)
    {
        if (Failure.At(step))
            return -1;
        for (std::size_t n = 0; n < Taken.size(); ++n)
            Level[Taken[n]] = values[n] != ActiveLow;
        return 0;
    }
    std::set<unsigned> High() const
    {
        std::set<unsigned> high;
        for (const auto& [line, level] : Level)
            if (level)
                high.insert(line);
        return high;
    }

    TGpioCalls Calls()
    {
        return {
            [this](const char* chip) {
                Open = std::string_view(chip) == "gpiochip0" && !Failure.At(TStep::Open);
                return Open ? Handle() : nullptr;
            },
            [this](gpiod_chip*, unsigned* offsets, unsigned count, gpiod_line_bulk*) {
                Taken.assign(offsets, offsets + count);
                return Failure.At(TStep::Take) ? -1 : 0;
            },
            [this](gpiod_line_bulk*, const char* consumer, bool activeLow, const int* values) {
                EXPECT_STREQ(consumer, "PrVardo");
                ActiveLow = activeLow;
                return Drive(TStep::Request, values);
            },
            [this](gpiod_line_bulk*, const int* values) { return Drive(TStep::Write, values); },
            [this](gpiod_line_bulk*) { Level.clear(); },
            [this](gpiod_chip* chip) {
                EXPECT_TRUE(chip == Handle() && Level.empty()) << "lines released first";
                Open = false;
            },
        };
    }
};

enum class TTargetKind
{
    Parport,
    Gpio
};

std::unique_ptr<TOutputTarget> Make(TTargetKind kind, bool activeLow = false)
{
    if (kind == TTargetKind::Parport)
        return MakeTarget({}, TParportAddress{"/dev/parport1"});
    return MakeTarget({}, TGpioAddress{"gpiochip0", {17, 27, 22, 23, 24, 25}, activeLow});
}

} // namespace

TEST(ParportTarget, TheWordGoesToTheDataRegisterWithD6AndD7Low)
{
    TFakePort port;
    const TScopedParportCalls calls(port.Calls());
    const auto target = Make(TTargetKind::Parport);
    ASSERT_TRUE(target->Open());
    const std::pair<int, int> cases[] = {{0, 0},       {1, 1},    {0x20, 0x20}, {0x2a, 0x2a},
                                         {0x3f, 0x3f}, {0x40, 0}, {0xc5, 0x05}};
    for (const auto& [word, data] : cases) {
        EXPECT_TRUE(target->Write(static_cast<std::uint8_t>(word), -1)) << "word " << word;
        EXPECT_EQ(port.Data, data) << "word " << word;
    }
    target->Close();
    EXPECT_FALSE(port.Open);
}

TEST(GpioTarget, EachOutputDrivesItsLineAndActiveLowInverts)
{
    using Lines = std::set<unsigned>;
    const Lines all{17, 22, 23, 24, 25, 27};
    struct Case
    {
        int Word;
        bool ActiveLow;
        Lines High;
    };
    const Case cases[] = {
        {0, false, {}},       {0, true, all},
        {5, false, {17, 22}}, {5, true, {27, 23, 24, 25}},
        {0x20, false, {25}},  {0x20, true, {17, 27, 22, 23, 24}},
        {0x3f, false, all},   {0x3f, true, {}},
    };
    for (const Case& c : cases) {
        const std::string row =
            "word " + std::to_string(c.Word) + (c.ActiveLow ? " active-low" : "");
        TFakeChip chip;
        const TScopedGpioCalls calls(chip.Calls());
        const auto target = Make(TTargetKind::Gpio, c.ActiveLow);
        ASSERT_TRUE(target->Open()) << row;
        EXPECT_EQ(chip.High(), c.ActiveLow ? all : Lines{}) << row << ": requested all off";
        EXPECT_TRUE(target->Write(static_cast<std::uint8_t>(c.Word), -1)) << row;
        EXPECT_EQ(chip.High(), c.High) << row;
        target->Close();
        EXPECT_FALSE(chip.Open) << row;
    }
}

TEST(DeviceTargets, ARefusalNamesTheCauseAndTheRemedy)
{
    constexpr TTargetKind Port = TTargetKind::Parport, Gpio = TTargetKind::Gpio;
    struct Case
    {
        TTargetKind Kind;
        TStep Step;
        int Error;
        const char* Message;
    };
    const Case cases[] = {
        {Port, TStep::Open, EACCES,
         "sin permiso para abrir el puerto paralelo; añada su usuario al grupo lp y vuelva a "
         "entrar en la sesión"},
        {Port, TStep::Open, ENOENT, "el puerto paralelo no existe; compruebe la tarjeta y que"},
        {Port, TStep::Open, ENXIO, "el puerto paralelo no existe; compruebe la tarjeta y que"},
        {Port, TStep::Take, EBUSY, "el puerto paralelo está ocupado por otro programa; ciérrelo"},
        {Port, TStep::Take, EINTR, "el puerto paralelo está ocupado por otro programa"},
        {Port, TStep::Write, EIO, "no se pudo escribir en el puerto paralelo: el dispositivo no "},
        {Port, TStep::Write, ENOTTY,
         "no se pudo escribir en el puerto paralelo: el dispositivo no "
         "es de ese tipo"},
        {Gpio, TStep::Open, EACCES,
         "sin permiso para abrir el chip GPIO; añada su usuario al grupo gpio y vuelva a entrar "
         "en la sesión"},
        {Gpio, TStep::Open, ENOENT, "el chip GPIO no existe; compruebe su nombre con gpiodetect"},
        {Gpio, TStep::Take, EINVAL, "el chip GPIO no tiene todas las líneas pedidas; compruebe"},
        {Gpio, TStep::Request, EBUSY, "las líneas GPIO están ocupadas por otro programa; gpioinfo"},
        {Gpio, TStep::Request, EPERM, "sin permiso para abrir el chip GPIO; añada su usuario"},
        {Gpio, TStep::Write, EIO, "no se pudo cambiar las líneas GPIO: "},
    };
    for (const Case& c : cases) {
        TFakePort port;
        TFakeChip chip;
        port.Failure = chip.Failure = {c.Step, c.Error};
        const TScopedParportCalls portCalls(port.Calls());
        const TScopedGpioCalls chipCalls(chip.Calls());
        const auto target = Make(c.Kind);
        const bool opened = target->Open();
        EXPECT_FALSE(opened && target->Write(1, -1)) << c.Message;
        EXPECT_TRUE(target->Error().startsWith(QString::fromUtf8(c.Message)))
            << c.Message << "\n got: " << target->Error().toStdString();
        // The system's own (English) words are for the log, not the cause the user reads.
        EXPECT_FALSE(target->Error().contains(qt_error_string(c.Error))) << c.Message;
        // A device that did not open is left closed; a lost one is closed by its owner.
        EXPECT_EQ(port.Open || chip.Open, opened) << c.Message;
    }
}

// A heartbeat line beside the outputs: each service turns it, a word leaves it as it is, the end
// leaves it low; the outputs are untouched by it. Without one a service changes nothing.
TEST(DeviceTargets, AHeartbeatLineBeatsBesideTheWordAndStopsLow)
{
    struct Case
    {
        const char* What;
        TTargetKind Kind;
        int Heartbeat; // the data bit, or the GPIO line; -1: none
        bool ActiveLow;
    };
    const Case cases[] = {
        {"parallel port, D7", TTargetKind::Parport, 7, false},
        {"parallel port, D6", TTargetKind::Parport, 6, false},
        {"parallel port, none", TTargetKind::Parport, -1, false},
        {"GPIO line 4", TTargetKind::Gpio, 4, false},
        {"GPIO line 4, outputs active-low", TTargetKind::Gpio, 4, true},
        {"GPIO, none", TTargetKind::Gpio, -1, false},
    };
    for (const Case& c : cases) {
        TFakePort port;
        TFakeChip chip;
        const TScopedParportCalls portCalls(port.Calls());
        const TScopedGpioCalls chipCalls(chip.Calls());
        const bool parport = c.Kind == TTargetKind::Parport;
        TGpioAddress lines{"gpiochip0", {17, 27, 22, 23, 24, 25}, c.ActiveLow, c.Heartbeat};
        const auto target = parport ? MakeTarget({}, TParportAddress{"/dev/parport1", c.Heartbeat})
                                    : MakeTarget({}, lines);
        // The outputs as a word, and the heartbeat's physical level.
        const auto outputs = [&] {
            if (parport)
                return port.Data & 0x3f;
            int word = 0;
            for (unsigned n = 0; n < 6; ++n)
                word |= int(chip.Level[lines.Lines[n]] != c.ActiveLow) << n;
            return word;
        };
        const auto beat = [&] {
            return parport ? c.Heartbeat >= 0 && (port.Data >> c.Heartbeat) & 1
                           : c.Heartbeat >= 0 && chip.Level[unsigned(c.Heartbeat)] != 0;
        };
        ASSERT_TRUE(target->Open()) << c.What;
        EXPECT_EQ(target->ServiceWithin().count() > 0, c.Heartbeat >= 0) << c.What;
        ASSERT_TRUE(target->Write(0x05, -1)) << c.What;
        EXPECT_FALSE(beat()) << c.What << ": low at the start";
        std::string levels;
        for (int i = 0; i < 4; ++i) {
            ASSERT_TRUE(target->Service()) << c.What;
            levels += beat() ? '1' : '0';
            EXPECT_EQ(outputs(), 0x05) << c.What;
        }
        EXPECT_EQ(levels, c.Heartbeat >= 0 ? "1010" : "0000") << c.What;
        ASSERT_TRUE(target->Service()) << c.What;
        ASSERT_TRUE(target->Write(0x22, 0x05)) << c.What;
        EXPECT_EQ(beat(), c.Heartbeat >= 0) << c.What << ": a word leaves the beat as it is";
        EXPECT_EQ(outputs(), 0x22) << c.What;
        ASSERT_TRUE(target->Write(0, 0x22)) << c.What;
        target->Leave();
        EXPECT_FALSE(beat()) << c.What << ": low at the end";
        EXPECT_EQ(outputs(), 0) << c.What;
        target->Close();
    }
}
