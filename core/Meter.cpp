#include "core/Meter.h"

std::uint8_t MeterWord(std::uint8_t level)
{
    struct Step
    {
        std::uint8_t above;
        std::uint8_t word;
    };
    // Loudest first: the first threshold passed decides.
    static constexpr Step Steps[] = {{80, 63}, {60, 31}, {30, 15}, {15, 7}, {10, 3}, {5, 1}};
    for (const Step& step : Steps)
        if (level > step.above)
            return step.word;
    return 0;
}
