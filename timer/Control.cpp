#include "Control.h"

#include "core/Folders.h"
#include "core/TickTimer.h"

#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QTimer>

#include <sys/socket.h>

namespace {

constexpr int AnswerWithin = 3000;  // ms a client waits for the timer, in all
constexpr int RequestWithin = 2000; // ms the timer waits for a client's request
// A request says by when the timer must take it (the monotonic clock, which every process of the
// machine shares): the client's own time, less this much for the answer's way back. A timer that
// comes to it later (stopped, or too busy) never applies it: its client has given up and said so.
constexpr int AnswerWay = 500;
constexpr int MostClients = 16; // clients served at once; more are closed at once

// The process at the other end of a local socket, as the system tells it; 0 when it does not.
qint64 PeerPid(const QLocalSocket& socket)
{
    struct ucred peer
    {
    };
    socklen_t size = sizeof peer;
    if (::getsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
        return 0;
    return peer.pid;
}

} // namespace

QString ControlPath()
{
    return RuntimeFolder() + QStringLiteral("/prvardo-timer");
}

TControl::TControl(TAnswer answer, QObject* parent) : QObject(parent), FAnswer(std::move(answer))
{
    const QString path = ControlPath();
    // The timer holds the user's one timer lock: a socket there was left by a timer that died.
    QLocalServer::removeServer(path);
    FServer.setSocketOptions(QLocalServer::UserAccessOption);
    if (!FServer.listen(path)) {
        FFailure = FServer.errorString();
        return;
    }
    connect(&FServer, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = FServer.nextPendingConnection())
            Serve(client);
    });
}

void TControl::Serve(QLocalSocket* client)
{
    const auto drop = [client] {
        client->abort();
        client->deleteLater();
    };
    if (FClients >= MostClients)
        return drop();
    ++FClients;
    connect(client, &QObject::destroyed, this, [this] { --FClients; });
    connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
    // A client that has not said what it wants by then is none of ours, or gone.
    auto* silence = new QTimer(client);
    silence->setSingleShot(true);
    connect(silence, &QTimer::timeout, client, drop);
    silence->start(RequestWithin);
    connect(client, &QLocalSocket::readyRead, this, [this, client, silence, drop] {
        if (!client->canReadLine()) {
            // A request is one short line: anything longer is no client of ours.
            if (client->bytesAvailable() > 4096)
                drop();
            return;
        }
        silence->stop();
        QByteArray request = client->readLine().trimmed();
        if (request.startsWith("by ")) {
            const qsizetype end = request.indexOf(' ', 3);
            bool ok = false;
            const qint64 by = request.mid(3, end - 3).toLongLong(&ok);
            if (!ok || end < 0) {
                client->write("error: petición no válida\n");
                client->disconnectFromServer();
                return;
            }
            if (MonotonicMilliseconds() > by) {
                client->write("error: la petición llegó tarde; no se aplicó\n");
                client->disconnectFromServer();
                return;
            }
            request = request.mid(end + 1);
        }
        client->write(FAnswer(request));
        client->disconnectFromServer();
    });
}

TTimerReply AskTimer(const QByteArray& request)
{
    TTimerReply reply;
    const QDeadlineTimer deadline(AnswerWithin);
    QLocalSocket socket;
    socket.connectToServer(ControlPath());
    if (!socket.waitForConnected(int(deadline.remainingTime())))
        return reply;
    reply.Kind = TTimerReply::TKind::NoAnswer;
    reply.Pid = PeerPid(socket);
    if (request.isEmpty()) // only whether a timer listens
        return reply;
    socket.write("by " + QByteArray::number(MonotonicMilliseconds() + AnswerWithin - AnswerWay) +
                 ' ' + request + '\n');
    if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
        return reply;
    // The answer is whole when the timer closes.
    QByteArray answer;
    while (socket.state() == QLocalSocket::ConnectedState && !deadline.hasExpired()) {
        if (socket.waitForReadyRead(int(deadline.remainingTime())))
            answer += socket.readAll();
    }
    answer += socket.readAll();
    // Every answer says something: a timer that closes without a word was too busy to serve.
    if (socket.state() != QLocalSocket::UnconnectedState || answer.isEmpty())
        return reply;
    reply.Kind = TTimerReply::TKind::Answered;
    reply.Text = answer;
    return reply;
}
