#pragma once
// A serial port as the serial targets use it: raw 8N1 without flow control, on the thread that
// opens it (the outputs' worker, whose Qt event loop writes what is left and reports errors). A
// device that goes away (unplugged) shows as lost, also while nothing is being written.

#include <QByteArray>
#include <QSerialPort>
#include <QString>

#include <chrono>
#include <memory>

class TSerialLine
{
public:
    // Opens `device` at `baud`. False, with a Spanish `error` (cause and usual remedy) and the
    // system's words in `detail`, when it cannot.
    bool Open(const QString& device, qint32 baud, QString& error, QString& detail);
    bool IsOpen() const { return FPort != nullptr; }
    // Hands the bytes over, and waits a moment for them to leave. False when the device is lost.
    bool Send(const QByteArray& bytes);
    // What the device sent since the last call; waits up to `wait` for the first byte.
    QByteArray Take(std::chrono::milliseconds wait = {});
    bool Lost() const { return FLost; }
    // The sentence for a lost device, and the system's words.
    static QString LostError();
    QString Detail() const;
    // Waits until what was written has left, at most until `deadline`.
    void Flush(std::chrono::steady_clock::time_point deadline);
    void Close();

private:
    std::unique_ptr<QSerialPort> FPort;
    bool FLost = false;
};
