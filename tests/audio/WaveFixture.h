#pragma once
// Devices on the simulated sound card: the card installed for the test, its log with the
// devices' events written into it, and a check that no header or block outlives the test.

#include "audio/WaveIO.h"
#include "tests/support/CoreSupport.h"
#include "tests/support/SimulatedSoundCard.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <string>
#include <vector>

class WaveTest : public ::testing::Test
{
protected:
    TScopedWaveDriver Installed{std::make_unique<TSimulatedSoundCard>()};
    TSimulatedSoundCard& Card = static_cast<TSimulatedSoundCard&>(*Installed.Driver());
    ErrorRecorder Errors;

    void TearDown() override
    {
        Pump();
        EXPECT_EQ(WaveHeadersAlive(), 0u);
        EXPECT_EQ(WaveBlocksAlive(), 0u);
    }

    // Dispatches every device message posted so far, and what their handlers posted in turn.
    static void Pump()
    {
        for (int i = 0; i < 1000 && PendingDeviceMessages() > 0; ++i)
            QCoreApplication::processEvents();
        ASSERT_EQ(PendingDeviceMessages(), 0u);
        QCoreApplication::processEvents();
    }

    // Writes the device's events into the card's log; OnError only when asked.
    void Wire(TWaveAudioIO& device, bool withOnError = true)
    {
        auto note = [this](const char* what) {
            return [this, what](QObject*) { Card.Log.emplace_back(what); };
        };
        device.OnActivate = note("OnActivate");
        device.OnDeactivate = note("OnDeactivate");
        device.OnPause = note("OnPause");
        device.OnResume = note("OnResume");
        if (withOnError)
            device.OnError = [this](QObject* sender) {
                const auto code = static_cast<TWaveAudioIO*>(sender)->LastError();
                Card.Log.push_back("OnError(" + std::to_string(code) + ")");
            };
        device.OnLevel = [this](QObject*, std::int32_t level) {
            Card.Log.push_back("OnLevel(" + std::to_string(level) + ")");
        };
    }

    // The log from the first entry that starts with `from`, without the entries in `skip`.
    std::vector<std::string> LogFrom(const std::string& from,
                                     const std::vector<std::string>& skip = {}) const
    {
        std::vector<std::string> out;
        bool on = false;
        for (const std::string& entry : Card.Log) {
            on = on || entry.rfind(from, 0) == 0;
            if (on && std::find(skip.begin(), skip.end(), entry) == skip.end())
                out.push_back(entry);
        }
        return out;
    }

    std::size_t Count(const std::string& entry) const
    {
        return static_cast<std::size_t>(std::count(Card.Log.begin(), Card.Log.end(), entry));
    }
};

// One 16-bit sample of the given value, as the bytes a buffer holds.
inline std::vector<std::uint8_t> Sample16(std::int16_t value)
{
    const auto v = static_cast<std::uint16_t>(value);
    return {static_cast<std::uint8_t>(v & 0xFF), static_cast<std::uint8_t>(v >> 8)};
}
