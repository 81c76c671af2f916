#pragma once
// How `prvardo-timer --set` and `--status` reach the running timer: a local socket in the user's
// runtime folder ($XDG_RUNTIME_DIR/prvardo-timer), which only the user may connect to; never a
// network port. A client sends one request line and reads the answer until the timer closes.
// The timer serves a bounded number of clients at once and closes one that stays silent. A request
// may say by when it must be taken ("by MS REQUEST", MS in the monotonic clock): later, it is
// refused unapplied, since its client has given up on it.

#include <QByteArray>
#include <QLocalServer>
#include <QObject>
#include <QString>

#include <functional>

// Where the running timer listens.
QString ControlPath();

class TControl : public QObject
{
public:
    using TAnswer = std::function<QByteArray(const QByteArray& request)>;
    // Listens, in place of a socket left by a timer that died: the caller holds the user's one
    // timer lock.
    TControl(TAnswer answer, QObject* parent);
    // Empty when listening; otherwise why not (the system's words).
    QString Failure() const { return FFailure; }

private:
    void Serve(class QLocalSocket* client);

    int FClients = 0;
    TAnswer FAnswer;
    QLocalServer FServer;
    QString FFailure;
};

// What a request to the running timer came back with.
struct TTimerReply
{
    enum class TKind
    {
        NoTimer,  // nobody listens
        NoAnswer, // a timer listens but did not answer whole within the client's time
        Answered
    };
    TKind Kind = TKind::NoTimer;
    QByteArray Text; // the answer, when Answered
    qint64 Pid = 0;  // the process that listens, when one does and the system says which
};

// Sends `request` to the running timer and reads its answer until the timer closes, all within
// 3 s. An empty request only asks whether a timer listens, and which.
TTimerReply AskTimer(const QByteArray& request);
