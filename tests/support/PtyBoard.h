#pragma once
// A relay board on the far side of a pseudo-terminal, for the tests and benchmarks that drive a
// serial target: the target opens Device, and the board keeps every byte that reached it. Needs
// libutil (openpty).

#include <QString>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <string>

class TPtyBoard
{
public:
    TPtyBoard()
    {
        char name[256] = {};
        if (::openpty(&FBoard, &FTerminal, name, nullptr, nullptr) != 0)
            return;
        ::fcntl(FBoard, F_SETFL, O_NONBLOCK);
        Device = QString::fromLocal8Bit(name);
    }
    ~TPtyBoard()
    {
        ::close(FBoard);
        ::close(FTerminal);
    }
    TPtyBoard(const TPtyBoard&) = delete;
    TPtyBoard& operator=(const TPtyBoard&) = delete;

    // Every byte received so far.
    const std::string& Received()
    {
        char bytes[64];
        for (ssize_t n; (n = ::read(FBoard, bytes, sizeof bytes)) > 0;)
            FReceived.append(bytes, static_cast<std::size_t>(n));
        return FReceived;
    }
    bool EndsWith(const std::string& tail)
    {
        const std::string& all = Received();
        return all.size() >= tail.size() &&
               all.compare(all.size() - tail.size(), tail.size(), tail) == 0;
    }
    // True once the last byte received is `word`.
    bool Shows(int word)
    {
        const std::string& all = Received();
        return !all.empty() && static_cast<unsigned char>(all.back()) == word;
    }
    // The board's side, to wait on with poll.
    int Fd() const { return FBoard; }

    QString Device; // empty when no pseudo-terminal could be made
    QString Target() const { return QStringLiteral("serial:") + Device; }

private:
    int FBoard = -1;
    int FTerminal = -1;
    std::string FReceived;
};
