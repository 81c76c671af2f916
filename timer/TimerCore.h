#pragma once
// What the running timer decides, apart from its clock, signals, file watches and socket: the
// state of a moment from the school's week and the holds, and the holds themselves, kept in the
// store at every change. Every instant comes from the caller, so that each rule can be tried with
// a clock of any time.
//
// A hold until the plan next changes its output ends where the plan read last says: its end is
// derived when the hold is made, when the holds of the last run are taken, and when the files
// are read again with a week that switches otherwise; nowhere else.

#include "timer/HoldsStore.h"
#include "timer/Sources.h"
#include "week/SchoolWeek.h"

#include <QDateTime>
#include <QTimeZone>

#include <optional>
#include <vector>

class TTimerCore
{
public:
    // Follows `sources` with the holds of the last run, less those ended by `now`.
    TTimerCore(TSources sources, std::vector<THold> holds, const QDateTime& now,
               const QTimeZone& zone);

    // The state at `now`, after dropping the holds ended by then (the store keeps what is left);
    // a line in the log when its word is not the last one turned.
    const TState& Turn(const QDateTime& now);
    // When a turn may next change anything: a slot start or a hold's end.
    QDateTime NextTurn(const QDateTime& now) const;
    // A hold asked for at `now` (the caller turns, then keeps it).
    void Hold(const THoldRequest& request, const QDateTime& now);
    // The holds into the store, for the next run.
    void Keep() { FStore.Save(FHolds); }
    // The files as read again (`asked`: by the user; otherwise because some changed). True when
    // the week is taken and a turn is due: always when asked, else when it switches otherwise.
    bool Follow(TSources sources, bool asked);

    const TSources& Sources() const { return FSources; }
    const std::vector<THold>& Holds() const { return FHolds; }
    const QTimeZone& Zone() const { return FZone; }
    // The state turned last; none before the first turn.
    const std::optional<TState>& Last() const { return FLast; }

private:
    TSources FSources;
    std::vector<THold> FHolds;
    QTimeZone FZone;
    THoldsStore FStore;
    std::optional<TState> FLast;
};
