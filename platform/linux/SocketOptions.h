// Socket options that the settings server and its clients set on the
// descriptors of the toolkit's sockets.
#pragma once

// Restricts a listening socket to connections that arrive on the loopback
// interface ("lo"): a peer on the network, and a connection addressed to
// one of this machine's non-loopback addresses, is refused. The socket may
// already be bound and listening. False (with errno) when the kernel refuses.
bool RestrictToLoopback(int fd);

// Sends small writes at once instead of holding them back for the peer's
// acknowledgement (Nagle), which would delay each short message by tens of
// milliseconds. False (with errno) on failure.
bool SetNoDelay(int fd);

// Holds a new connection back from accept() until its first bytes have
// arrived, for at most about `seconds`. False (with errno) on failure.
bool DeferAcceptUntilData(int fd, int seconds);
