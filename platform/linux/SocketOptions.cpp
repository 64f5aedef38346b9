#include "SocketOptions.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

bool RestrictToLoopback(int fd)
{
    // Binding to a device filters by the interface a packet arrives on. A
    // connection to 127.0.0.1 arrives on "lo"; one to the machine's network
    // address, even from the machine itself, counts as arriving on the
    // interface that holds that address. Unprivileged since Linux 5.7.
    static const char kLoopback[] = "lo";
    return setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, kLoopback, sizeof kLoopback) == 0;
}

bool SetNoDelay(int fd)
{
    int on = 1;
    return setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0;
}

bool DeferAcceptUntilData(int fd, int seconds)
{
    return setsockopt(fd, IPPROTO_TCP, TCP_DEFER_ACCEPT, &seconds, sizeof seconds) == 0;
}
