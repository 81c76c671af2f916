#pragma once
// The level meter of the microphone page: the peak level of a captured buffer (0 to 100) as a
// six-bit word that lights the lamps D0 to D5 one after another as the sound gets louder.

#include <cstdint>

// 0 up to level 5, then 1, 3, 7, 15, 31 and 63 above 5, 10, 15, 30, 60 and 80: bit p lights
// lamp Dp.
std::uint8_t MeterWord(std::uint8_t level);
