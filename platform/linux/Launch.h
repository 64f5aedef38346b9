// Starting companion programs, finding the driver's own executable, and the
// system log. These stand in for the desktop's application launcher.
#pragma once

#include <string>

// Resolves what a launch of `path` would run: the path itself when it is an
// executable file; for a folder named "X.app", "X.app/X" or else
// "X.app/Contents/MacOS/X" when executable. Empty when nothing can be run.
std::string ResolveLaunchTarget(const std::string& path);

// Starts the program that `path` resolves to, detached from the driver: its own
// session, standard streams on /dev/null, default signal dispositions, no
// descriptor of the driver inherited, and no zombie left behind. Returns true
// once the program has been executed, false when nothing could be run.
bool LaunchApplication(const std::string& path);

// Full path of the running executable ("" when it cannot be read).
std::string ExecutablePath();

// One line to the system log (syslog, facility user, level notice).
void SystemLog(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
