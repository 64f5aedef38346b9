// The command line of the settings client: which topic and item it starts,
// and what it does with the driver's advises. No I/O.
#pragma once

#include "CompanionTypes.h"

#include <string>

enum CommandMode
{
    MODE_ONCE,   // start the advise loop, then leave: a reload or a switch
    MODE_POINTS, // a calibration: wait for one "fin" per point
    MODE_VALUES, // live press values until a signal (or --count)
    MODE_RAW,    // any topic and item; print each advise's bytes
};

struct SettingsCommand
{
    std::string topic;
    std::string item;
    CommandMode mode = MODE_ONCE;
    int points = 0;        // MODE_POINTS: the "fin"s to wait for
    int count = -1;        // MODE_VALUES, MODE_RAW: leave after this many advises; -1: wait for a signal
    int port = 0;          // 0: from the settings file
    std::string workDir;   // empty: see FindWorkDir
    bool help = false;
};

// Parses the arguments after the program name. False with a one-line
// message for a command line that is not understood.
bool ParseSettingsCommand(int argc, const char* const* argv, SettingsCommand& command, std::string& error);

const char* SettingsUsage();
