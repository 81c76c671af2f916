#include "Control.h"

#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>

namespace {

constexpr int AnswerWithin = 3000; // ms a client waits for the timer

} // namespace

QString ControlPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) +
           QStringLiteral("/prvardo-timer");
}

TControl::TControl(TAnswer answer, QObject* parent) : QObject(parent), FAnswer(std::move(answer))
{
    const QString path = ControlPath();
    // A socket left by a timer that died is taken over; one that answers is another timer's.
    if (AskTimer({}).has_value()) {
        FFailure = QStringLiteral("otro prvardo-timer atiende ya %1").arg(path);
        return;
    }
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
    connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
    connect(client, &QLocalSocket::readyRead, this, [this, client] {
        if (!client->canReadLine()) {
            // A request is one short line: anything longer is no client of ours.
            if (client->bytesAvailable() > 4096)
                client->abort();
            return;
        }
        const QByteArray request = client->readLine().trimmed();
        client->write(FAnswer(request));
        client->disconnectFromServer();
    });
}

std::optional<QByteArray> AskTimer(const QByteArray& request)
{
    QLocalSocket socket;
    socket.connectToServer(ControlPath());
    if (!socket.waitForConnected(AnswerWithin))
        return std::nullopt;
    if (request.isEmpty()) // only whether a timer listens
        return QByteArray();
    socket.write(request + '\n');
    if (!socket.waitForBytesWritten(AnswerWithin))
        return std::nullopt;
    QByteArray answer;
    while (socket.state() == QLocalSocket::ConnectedState && socket.waitForReadyRead(AnswerWithin))
        answer += socket.readAll();
    answer += socket.readAll();
    return answer;
}
