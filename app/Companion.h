// Companion applications: the whiteboard application and the calibration
// application. Main thread only.
#pragma once

#include <string>

extern std::string g_BoardSoftapp;  // first place of the whiteboard application
extern std::string g_BoardSoftapp1; // second place
extern std::string g_Orientapp;     // calibration application, next to the driver
extern std::string g_callPath;      // last companion launched from the driver's folder

// Replaces the places above where `boardApp`, `boardApp1` or `orientApp` is
// not empty (packaging and tests). An `orientApp` is a full path.
void SetCompanionPaths(const std::string& boardApp, const std::string& boardApp1, const std::string& orientApp);

// Launches the whiteboard application from its first place, else from its
// second. True when one of them was started.
bool SoftAppStart();

enum OrientAction
{
    ORIENT_INTERRUPTED, // a running calibration application was asked to end
    ORIENT_LAUNCHED,
    ORIENT_NOT_FOUND,
};

// Toggles the calibration application: SIGINT to `pid` when it is above 0 and
// the signal is delivered, a launch otherwise.
OrientAction OrientAppStart(int pid);
