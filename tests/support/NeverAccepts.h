#pragma once
// A TCP listener on the loopback that answers no connection: its queue is filled, so the next
// SYN is dropped and a connect to it waits as for a host that never answers. For the tests and
// benchmarks of a target that hangs in its connect.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <vector>

class TNeverAccepts
{
public:
    TNeverAccepts()
    {
        FListener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(FListener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(FListener, 0) != 0 ||
            ::getsockname(FListener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        // Connections until one is left unanswered.
        for (bool answered = true; answered && FClients.size() < 8;) {
            const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            FClients.push_back(client);
            // Answered at once, or left waiting: either way the poll tells.
            const bool started =
                ::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ||
                errno == EINPROGRESS;
            pollfd done{client, POLLOUT, 0};
            answered = started && ::poll(&done, 1, 300) > 0;
        }
        if (FClients.size() < 8)
            Port = ntohs(address.sin_port);
    }
    ~TNeverAccepts()
    {
        for (const int client : FClients)
            ::close(client);
        ::close(FListener);
    }
    TNeverAccepts(const TNeverAccepts&) = delete;
    TNeverAccepts& operator=(const TNeverAccepts&) = delete;

    // 0 when no such listener could be made.
    std::uint16_t Port = 0;

private:
    int FListener = -1;
    std::vector<int> FClients;
};
