// Diagnostic lines on standard output, from any thread, one whole line at a
// time with a time stamp. Not an interface: no other program reads them.
#pragma once

void SkribLog(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
