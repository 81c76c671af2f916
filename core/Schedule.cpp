#include "Schedule.h"

#include <algorithm>

void TSchedule::ClearPlane(int plane)
{
    if (plane < 0 || plane >= Planes)
        return;
    std::fill_n(FFlags.begin() + plane * PlaneSize, PlaneSize, std::uint8_t(0));
}
