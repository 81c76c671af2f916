#pragma once
// The schedule: for each of the six outputs D0 to D5 and each 5-minute slot of the day, whether
// the output is on. 1728 byte flags, 6 planes x 12 slots x 24 hours; the 24 hours of one slot
// are adjacent, then the next slot, then the next plane. Each flag is 1 (on) or 0 (off).

#include <array>
#include <cstdint>

// The outputs D0 to D5, and the bits of a switching word that are outputs: D0 to D5 in bits 0
// to 5.
constexpr int OutputCount = 6;
constexpr std::uint8_t OutputsMask = (1U << OutputCount) - 1;

class TSchedule
{
public:
    static constexpr int Planes = OutputCount;
    static constexpr int Slots = 12;
    static constexpr int Hours = 24;
    static constexpr int PlaneSize = Slots * Hours;
    static constexpr int Size = Planes * PlaneSize;

    static constexpr int Index(int plane, int slot, int hour)
    {
        return plane * PlaneSize + slot * Hours + hour;
    }
    static constexpr bool InRange(int plane, int slot, int hour)
    {
        return plane >= 0 && plane < Planes && slot >= 0 && slot < Slots && hour >= 0 &&
               hour < Hours;
    }

    // The flag at (plane, slot, hour); 0 for a place outside the schedule.
    std::uint8_t Flag(int plane, int slot, int hour) const
    {
        return InRange(plane, slot, hour) ? FFlags[Index(plane, slot, hour)] : 0;
    }
    // Replaces the flag by itself exclusive-or 1; places outside the schedule are ignored.
    void Toggle(int plane, int slot, int hour)
    {
        if (InRange(plane, slot, hour))
            FFlags[Index(plane, slot, hour)] ^= 1;
    }
    void Set(int plane, int slot, int hour, bool on)
    {
        if (InRange(plane, slot, hour))
            FFlags[Index(plane, slot, hour)] = on ? 1 : 0;
    }
    void ClearPlane(int plane);
    void Clear() { FFlags.fill(0); }

    std::uint8_t operator[](int index) const { return FFlags.at(index); }
    const std::array<std::uint8_t, Size>& Flags() const { return FFlags; }
    void Assign(const std::array<std::uint8_t, Size>& flags) { FFlags = flags; }

    friend bool operator==(const TSchedule&, const TSchedule&) = default;

private:
    std::array<std::uint8_t, Size> FFlags{};
};
