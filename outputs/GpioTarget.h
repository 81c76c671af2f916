#pragma once
// The GPIO target's seam: the libgpiod calls it makes. Open opens the chip, takes its six lines
// and requests them as outputs for the consumer "PrVardo", all off (with active-low, the kernel
// inverts: off is a high level); each Write sets the six lines, bit n on line Ln; Close releases
// the lines and closes the chip.

#include "core/ScopedOverride.h"

#include <functional>

struct gpiod_chip;
struct gpiod_line_bulk;

// The calls as libgpiod has them: null or -1 with errno set on failure. `values` hold one entry
// per line taken, 1 for on.
struct TGpioCalls
{
    std::function<gpiod_chip*(const char* chip)> OpenChip;
    std::function<int(gpiod_chip* chip, unsigned* offsets, unsigned count, gpiod_line_bulk* lines)>
        GetLines;
    std::function<int(gpiod_line_bulk* lines, const char* consumer, bool activeLow,
                      const int* values)>
        RequestOutputs;
    std::function<int(gpiod_line_bulk* lines, const int* values)> SetValues;
    std::function<void(gpiod_line_bulk* lines)> Release;
    std::function<void(gpiod_chip* chip)> CloseChip;
};

// While it lives, GPIO targets opened from then on use `calls` (a test's stand-in of a chip); the
// calls before it come back when it ends. A target keeps the calls it opened with until it is
// closed.
class TScopedGpioCalls : public TScopedOverride<TGpioCalls>
{
public:
    explicit TScopedGpioCalls(TGpioCalls calls);
};
