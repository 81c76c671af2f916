#pragma once
// How `prvardo-timer --set` and `--status` reach the running timer: a local socket in the user's
// runtime folder ($XDG_RUNTIME_DIR/prvardo-timer), which only the user may connect to; never a
// network port. A client sends one request line and reads the answer until the timer closes.

#include <QByteArray>
#include <QLocalServer>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

// Where the running timer listens.
QString ControlPath();

class TControl : public QObject
{
public:
    using TAnswer = std::function<QByteArray(const QByteArray& request)>;
    TControl(TAnswer answer, QObject* parent);
    // Empty when listening; otherwise why not (another timer listens, or the system's words).
    QString Failure() const { return FFailure; }

private:
    void Serve(class QLocalSocket* client);

    TAnswer FAnswer;
    QLocalServer FServer;
    QString FFailure;
};

// The running timer's answer to a request; none when no timer answers.
std::optional<QByteArray> AskTimer(const QByteArray& request);
