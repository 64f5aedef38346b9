#include "SkribLog.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <sys/time.h>

void SkribLog(const char* fmt, ...)
{
    static std::mutex s_mutex;

    char line[1024];
    timeval now;
    gettimeofday(&now, nullptr);
    tm local;
    localtime_r(&now.tv_sec, &local);
    size_t used = strftime(line, sizeof line, "%Y-%m-%d %H:%M:%S", &local);
    used += static_cast<size_t>(snprintf(line + used, sizeof line - used, ".%03ld ", static_cast<long>(now.tv_usec / 1000)));

    va_list args;
    va_start(args, fmt);
    vsnprintf(line + used, sizeof line - used, fmt, args);
    va_end(args);

    std::lock_guard<std::mutex> lock(s_mutex);
    fputs(line, stdout);
    fputc('\n', stdout);
    fflush(stdout);
}
