// The HID kind's side of the receive queue (g_buf, g_bufLen): the reader
// appends whole reports, one consumer takes bytes from the front.
#pragma once

// Drops a report whose length is not DATASIZE. Appends a whole report; when
// it would not fit into 1024 bytes the oldest bytes make room for it. Wakes
// the consumer only when the queue was empty.
void HidQueuePush(const unsigned char* report, int n);

// Takes `len` bytes from the front: `len` when they are there at once or
// after one wait of at most `timeoutMs`, 0 when they are not, -1 when the
// queue was closed (HidQueueClose) meanwhile.
int HidQueueTake(unsigned char* dst, int len, int timeoutMs);

// Empties the queue and opens it for a new board.
void HidQueueReset();

// Wakes a waiting consumer, which then returns -1.
void HidQueueClose();
