#include "BaseClaim.h"

void TBaseClaim::Restart()
{
    FRole = TRole::Undecided;
    FHolder.clear();
    FState.clear();
}

TBaseClaim::TStep TBaseClaim::ProbeBack()
{
    return FRole == TRole::Undecided ? Decide() : TStep::Stay;
}

TBaseClaim::TStep TBaseClaim::HolderSaid(const QByteArray& holder)
{
    FHolder = holder;
    return FRole == TRole::Undecided ? TStep::Stay : Decide();
}

TBaseClaim::TStep TBaseClaim::StateSaid(const QByteArray& state)
{
    FState = state;
    if (FRole == TRole::Holder && state == "offline")
        return TStep::Answer;
    return FRole == TRole::Aside ? Decide() : TStep::Stay;
}

TBaseClaim::TStep TBaseClaim::Decide()
{
    if (FHolder.isEmpty() || FHolder == FIdentity || FState == "offline") {
        if (FRole == TRole::Holder)
            return TStep::Stay;
        FRole = TRole::Holder;
        return TStep::Take;
    }
    if (FRole == TRole::Holder) {
        if (FIdentity < FHolder)
            return TStep::Insist;
        FRole = TRole::Aside;
        return TStep::Leave;
    }
    FRole = TRole::Aside;
    return TStep::StandBy;
}
