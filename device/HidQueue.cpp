#include "HidQueue.h"

#include "DeviceBase.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

namespace {

// Guard g_buf and g_bufLen, and the closed flag.
std::mutex g_mutex;
std::condition_variable g_cond;
bool g_closed = false;

constexpr int kQueueCapacity = 1024;

void Take(unsigned char* dst, int len)
{
    memcpy(dst, g_buf, static_cast<size_t>(len));
    memmove(g_buf, g_buf + len, static_cast<size_t>(g_bufLen - len));
    g_bufLen -= len;
    g_buf[g_bufLen] = 0;
}

} // namespace

void HidQueuePush(const unsigned char* report, int n)
{
    if (n != DATASIZE || n <= 0 || n > kQueueCapacity)
        return;
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        const int before = g_bufLen;
        if (before + n > kQueueCapacity) {
            // Full: the oldest n bytes make room; nobody waits on a full queue.
            memmove(g_buf, g_buf + n, static_cast<size_t>(before - n));
            memcpy(g_buf + before - n, report, static_cast<size_t>(n));
        } else {
            memcpy(g_buf + before, report, static_cast<size_t>(n));
            g_bufLen = before + n;
            wake = before == 0;
        }
        g_buf[g_bufLen] = 0;
    }
    if (wake)
        g_cond.notify_one();
}

int HidQueueTake(unsigned char* dst, int len, int timeoutMs)
{
    if (len <= 0 || len > kQueueCapacity)
        return 0;
    std::unique_lock<std::mutex> lock(g_mutex);
    if (g_closed)
        return -1;
    if (g_bufLen < len) {
        // One wait only: a consumer that finds part of what it needs is not
        // woken by the next report and looks again after the full wait.
        g_cond.wait_until(lock, std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs));
        if (g_closed)
            return -1;
        if (g_bufLen < len)
            return 0;
    }
    Take(dst, len);
    return len;
}

void HidQueueReset()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    memset(g_buf, 0, sizeof g_buf);
    g_bufLen = 0;
    g_closed = false;
}

void HidQueueClose()
{
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_closed = true;
    }
    g_cond.notify_all();
}
