#pragma once
// Which of the timers on one broker holds BASE, from what the broker keeps: BASE/titular, the
// holder's identity ("user@host, proceso N"), and BASE/estado, online or offline (a clean stop,
// or a last will). Nothing is known after a connection until a probe the timer publishes after
// subscribing comes back, behind the retained topics. BASE is free when nobody holds it, this
// timer does, or its holder is offline; when two timers take it at once, the first identity in
// order keeps it.

#include <QByteArray>

class TBaseClaim
{
public:
    enum class TStep
    {
        Stay,    // nothing to do
        Take,    // BASE is free: hold it
        Insist,  // taken at once by another, and this timer keeps it: say so again
        Leave,   // another holds it: stop holding it
        StandBy, // another holds it, and this timer did not
        Answer,  // an offline from a timer that does not hold BASE: say online again
    };

    explicit TBaseClaim(QByteArray identity) : FIdentity(std::move(identity)) {}

    // Connected again: nothing is known until the probe comes back.
    void Restart();
    TStep ProbeBack();
    TStep HolderSaid(const QByteArray& holder);
    TStep StateSaid(const QByteArray& state);

    bool Holding() const { return FRole == TRole::Holder; }
    const QByteArray& Identity() const { return FIdentity; }
    const QByteArray& Holder() const { return FHolder; }

private:
    TStep Decide();

    enum class TRole
    {
        Undecided,
        Holder,
        Aside
    };
    QByteArray FIdentity;
    TRole FRole = TRole::Undecided;
    QByteArray FHolder; // BASE/titular as the broker keeps it
    QByteArray FState;  // BASE/estado as the broker keeps it
};
