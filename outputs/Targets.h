#pragma once
// The targets the user names, as text ("--output serial:/dev/ttyUSB0:9600", or the settings
// file's list), parsed into the address of one kind of target, and made into targets.
//
//   parport:DEVICE                                the strip on a parallel port (ppdev)
//   gpio:CHIP:L0,L1,L2,L3,L4,L5[:active-low]      six GPIO lines, bit n to line Ln (libgpiod)
//   serial:DEVICE[:BAUD]                          one byte per change, 8N1, 9600 baud by default
//   lcus:DEVICE[:CHANNELS]                        a CH340 "LCUS" USB relay module of 1, 2, 4
//                                                 (the default) or 8 relays
//   modbus:DEVICE[:BAUD[:UNIT]]                   a Modbus RTU relay board: coils 0 to 5 of the
//                                                 unit (1 by default), 9600 baud 8N1 by default
//   modbus-tcp://HOST[:PORT]/UNIT                 the same over Modbus TCP (port 502 by default)
//   mqtt://[USER@]HOST[:PORT]/TOPIC               Tasmota command topics cmnd/TOPIC/POWERn
//   mqtt://[USER@]HOST[:PORT]/T0,T1,T2,T3,T4,T5   one topic per output: cmnd/Tn/POWER
//   mqtts://...                                   the same over TLS, the server's certificate
//                                                 checked against the system's authorities, or
//                                                 the settings file's cafile
//
// A kind of target is one address record below, one row of the parser's table (Targets.cpp) and
// one class with its MakeTarget (its own file).

#include "core/Schedule.h"
#include "outputs/OutputTarget.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <memory>
#include <variant>
#include <vector>

// A heartbeat line (heartbeat = D7, or a GPIO line, in the settings file) toggles at 10 Hz
// while the program runs and its target is open, and stops at every end: a missing-pulse circuit
// on it enables the relays only while the pulses come.
constexpr int HeartbeatHalfPeriodMs = 50;

struct TParportAddress
{
    QString Device;
    int HeartbeatBit = -1; // 6 or 7: the data line D6 or D7; -1: none
};

struct TGpioAddress
{
    QString Chip; // "gpiochip0", or a path
    std::array<unsigned, OutputCount> Lines{};
    bool ActiveLow = false;
    int HeartbeatLine = -1; // a line of the chip beside the six, never active-low; -1: none
};

struct TSerialAddress
{
    QString Device;
    std::int32_t Baud = 9600;
};

struct TLcusAddress
{
    QString Device;
    int Channels = 4; // 1, 2, 4 or 8
};

struct TModbusAddress
{
    bool Tcp = false;
    QString Device; // RTU
    std::int32_t Baud = 9600;
    QString Host; // TCP
    std::uint16_t Port = 502;
    int Unit = 1; // 1 to 247
};

struct TMqttAddress
{
    bool Secure = false; // mqtts://
    QString User;
    QString Password; // from the settings file only
    QString CaFile;   // mqtts: the authority that signs the server's certificate, from the
                      // settings file; empty: the system's authorities
    QString Host;
    std::uint16_t Port = 0; // 0: 1883, or 8883 for mqtts
    QStringList Topics;     // one (POWER1..POWER6 under it) or six (POWER of each)
    int PulseTime = 0;      // seconds after which a plug switches an output off by itself unless
                            // told ON again, from the settings file; 0: the plug's own setting

    // The port to connect to: the one written, or MQTT's own (8883 with TLS).
    std::uint16_t ServerPort() const { return Port != 0 ? Port : Secure ? 8883 : 1883; }
};

// A broker's address as written, mqtt://[USER@]HOST[:PORT]/PATH or mqtts://..., for a target and
// for the timer's link to the school's broker: the broker (Port 0 when none is written) and what
// follows it (`path`, without its first '/'). False, with a Spanish `why`, for anything else: no
// host, a port that is none, a password in it, a query.
bool ParseBroker(const QString& text, TMqttAddress& broker, QString& path, QString& why);

using TTargetAddress = std::variant<TParportAddress, TGpioAddress, TSerialAddress, TMqttAddress,
                                    TLcusAddress, TModbusAddress>;

struct TTargetSpec
{
    QString Name; // the text as the user wrote it (without a password)
    TTargetAddress Address;
};

// Parses one target as the user writes it. False, with a one-line Spanish `error` that quotes
// the text, when it is not a target.
bool ParseTarget(const QString& text, TTargetSpec& spec, QString& error);

// The forms a target is written in, one line each ("      FORM  what it drives"), for --help.
QString TargetForms();

// The target a spec describes, closed.
std::unique_ptr<TOutputTarget> MakeTarget(const TTargetSpec& spec);
std::vector<std::unique_ptr<TOutputTarget>> MakeTargets(const std::vector<TTargetSpec>& specs);

// Each kind's target (their own files).
std::unique_ptr<TOutputTarget> MakeTarget(const QString& name, const TParportAddress& address);
std::unique_ptr<TOutputTarget> MakeTarget(const QString& name, const TGpioAddress& address);
std::unique_ptr<TOutputTarget> MakeTarget(const QString& name, const TSerialAddress& address);
std::unique_ptr<TOutputTarget> MakeTarget(const QString& name, const TMqttAddress& address);
std::unique_ptr<TOutputTarget> MakeTarget(const QString& name, const TLcusAddress& address);
std::unique_ptr<TOutputTarget> MakeTarget(const QString& name, const TModbusAddress& address);
