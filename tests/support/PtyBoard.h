#pragma once
// A relay board on the far side of a pseudo-terminal, for the tests and benchmarks that drive a
// serial target: the target opens Device, and the board keeps the words it was set to. Needs
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

    // The words received so far, one per change: the same byte again (the word sent every second
    // while the port is open) changes nothing on a board and is kept once.
    const std::string& Received()
    {
        char bytes[64];
        for (ssize_t n; (n = ::read(FBoard, bytes, sizeof bytes)) > 0;) {
            FBytes += static_cast<std::size_t>(n);
            for (ssize_t i = 0; i < n; ++i)
                if (FReceived.empty() || FReceived.back() != bytes[i])
                    FReceived.push_back(bytes[i]);
        }
        return FReceived;
    }
    // How many bytes came in all, the same word again included.
    std::size_t Bytes()
    {
        Received();
        return FBytes;
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
    std::size_t FBytes = 0;
};
