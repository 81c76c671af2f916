#include "Client.h"

#include "timer/Control.h"
#include "week/SchoolWeek.h"

#include <QDateTime>
#include <QTimeZone>

int AskRunningTimer(const TCommandLine& line)
{
    const auto refuse = [](const QString& why) {
        PrintText(stderr, QStringLiteral("prvardo-timer: %1\n").arg(why));
        return 2;
    };
    QList<QByteArray> requests;
    const QDateTime now = QDateTime::currentDateTime();
    if (!line.Until.isEmpty() && line.Set.isEmpty())
        return refuse(QStringLiteral("--until va con --set"));
    for (const QString& set : line.Set) {
        THoldRequest request;
        QString error;
        if (!ParseHoldRequest(set, line.Until, now, QTimeZone::systemTimeZone(), request, error))
            return refuse(error);
        requests << HoldRequestLine(request);
    }
    if (line.Status)
        requests << "status";
    for (const QByteArray& request : requests) {
        const TTimerReply reply = AskTimer(request);
        if (reply.Kind == TTimerReply::TKind::NoTimer) {
            PrintText(stderr, QStringLiteral("prvardo-timer: no hay ningún temporizador en marcha "
                                             "(nadie atiende en %1)\n")
                                  .arg(ControlPath()));
            return 1;
        }
        if (reply.Kind == TTimerReply::TKind::NoAnswer) {
            PrintText(stderr, QStringLiteral("prvardo-timer: el temporizador en marcha (proceso "
                                             "%1) no contesta\n")
                                  .arg(reply.Pid));
            return 1;
        }
        if (reply.Text.startsWith("error:")) {
            PrintText(stderr,
                      QStringLiteral("prvardo-timer: %1").arg(QString::fromUtf8(reply.Text)));
            return 2;
        }
        PrintText(stdout, QString::fromUtf8(reply.Text));
    }
    return 0;
}
