// The stand-in whiteboard application's sockets: everything on 127.0.0.1.
#pragma once

#include <netinet/in.h>

#include <string>

sockaddr_in LoopbackAddress(int port);

// A non-blocking socket of `type` (SOCK_DGRAM, or SOCK_STREAM, then
// listening) bound to 127.0.0.1:port, 0 for any free port; `boundPort` is the
// port it got. -1 with the reason in `error`.
int BindLoopback(int type, int port, int& boundPort, std::string& error);

// A UDP port on 127.0.0.1 that is free now (for a program that binds it a
// moment later); -1 when none could be had.
int FreeLoopbackUdpPort();

// Waits until `fd` has something to read; false after `timeoutMs`.
bool WaitReadable(int fd, int timeoutMs);

// Sends `text` as one datagram from `fd` (any UDP socket) to 127.0.0.1:port.
bool SendDatagram(int fd, int port, const std::string& text);
