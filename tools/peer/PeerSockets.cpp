#include "PeerSockets.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

sockaddr_in LoopbackAddress(int port)
{
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    return a;
}

int BindLoopback(int type, int port, int& boundPort, std::string& error)
{
    const int fd = socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in a = LoopbackAddress(port);
    socklen_t len = sizeof a;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        (type == SOCK_STREAM && listen(fd, 4) != 0) ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        error = std::strerror(errno);
        if (fd >= 0)
            close(fd);
        return -1;
    }
    boundPort = ntohs(a.sin_port);
    return fd;
}

bool WaitReadable(int fd, int timeoutMs)
{
    pollfd p = {fd, POLLIN, 0};
    int n;
    do
        n = poll(&p, 1, timeoutMs);
    while (n < 0 && errno == EINTR);
    return n == 1;
}

bool SendDatagram(int fd, int port, const std::string& text)
{
    sockaddr_in to = LoopbackAddress(port);
    return sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
           static_cast<ssize_t>(text.size());
}

int FreeLoopbackUdpPort()
{
    int port = 0;
    std::string error;
    const int fd = BindLoopback(SOCK_DGRAM, 0, port, error);
    if (fd < 0)
        return -1;
    close(fd);
    return port;
}
