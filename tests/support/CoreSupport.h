#pragma once
// Helpers of every test program, with or without widgets: an error recorder and a wait with a
// deadline. Test programs of the GUI-free folders (sound, audio) run on a QCoreApplication.

#include "core/ErrorReport.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <initializer_list>

// Records what the error path reports while it lives, instead of showing a message box.
class ErrorRecorder
{
public:
    ErrorRecorder();
    ErrorRecorder(const ErrorRecorder&) = delete;
    ErrorRecorder& operator=(const ErrorRecorder&) = delete;

    QStringList Messages;
    QList<QObject*> Senders;

private:
    TScopedExceptionReporter FReporter;
};

// Processes events until `condition` holds or `timeoutMs` passes; returns the condition.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 30000);

// The time of day, in milliseconds since midnight, that stamps the first line of a program's log
// (each line starts "HH:MM:SS.mmm ") holding every one of `texts`; -1 when no line does.
int LogStamp(const QByteArray& log, std::initializer_list<const char*> texts);
// How long from one time of day to another, in milliseconds, across midnight as well: negative
// when `to` came first.
int StampsApart(int from, int to);

// A TCP port of the loopback that nothing listens on now, for a server of the test's own.
int FreePort();
