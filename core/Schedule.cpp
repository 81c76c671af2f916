#include "Schedule.h"

#include <algorithm>
#include <cstddef>

void TSchedule::ClearPlane(int plane)
{
    if (plane < 0 || plane >= Planes)
        return;
    std::fill_n(FFlags.begin() + std::ptrdiff_t(plane) * PlaneSize, PlaneSize, std::uint8_t(0));
}
