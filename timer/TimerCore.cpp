#include "TimerCore.h"

#include "core/Log.h"
#include "timer/StatusText.h"

TTimerCore::TTimerCore(TSources sources, std::vector<THold> holds, const QDateTime& now,
                       const QTimeZone& zone)
    : FSources(std::move(sources)), FHolds(std::move(holds)), FZone(zone)
{
    ResolveHolds(FSources.Week, FHolds, FZone);
    DropEndedHolds(FHolds, now);
}

const TState& TTimerCore::Turn(const QDateTime& now)
{
    if (DropEndedHolds(FHolds, now))
        Keep();
    const TState state = StateAt(FSources.Week, FHolds, now, FZone);
    if (!FLast || state.Word != FLast->Word) {
        const TDaySlot slot = SlotAt(now, FZone);
        LogLine(QStringLiteral("%1:%2 palabra 0x%3 (%4); %5")
                    .arg(slot.Hour, 2, 10, QLatin1Char('0'))
                    .arg(slot.Slot * 5, 2, 10, QLatin1Char('0'))
                    .arg(state.Word, 2, 16, QLatin1Char('0'))
                    .arg(WordText(state.Word), Why(FLast ? &*FLast : nullptr, state, now)));
    }
    FLast = state;
    return *FLast;
}

QDateTime TTimerCore::NextTurn(const QDateTime& now) const
{
    return ::NextTurn(FHolds, now, FZone);
}

void TTimerCore::Hold(const THoldRequest& request, const QDateTime& now)
{
    ApplyHoldRequest(request, now, FSources.Week, FZone, FHolds);
}

bool TTimerCore::Follow(TSources sources, bool asked)
{
    if (!asked && SameWeek(sources.Week, FSources.Week)) {
        FSources.Settings = std::move(sources.Settings); // each change of a key said once
        return false;
    }
    FSources = std::move(sources);
    ResolveHolds(FSources.Week, FHolds, FZone);
    return true;
}
