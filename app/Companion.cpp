#include "Companion.h"

#include "Launch.h"
#include "SkribLog.h"

#include <csignal>

std::string g_BoardSoftapp = "/Applications/Velmor Software/Velmor Software.app";
std::string g_BoardSoftapp1 = "/Applications/Velmor_Software.app";
std::string g_Orientapp = "Orient.app";
std::string g_callPath;

namespace {
std::string g_orientOverride;
}

void SetCompanionPaths(const std::string& boardApp, const std::string& boardApp1, const std::string& orientApp)
{
    if (!boardApp.empty())
        g_BoardSoftapp = boardApp;
    if (!boardApp1.empty())
        g_BoardSoftapp1 = boardApp1;
    g_orientOverride = orientApp;
}

bool SoftAppStart()
{
    if (LaunchApplication(g_BoardSoftapp))
        return true;
    bool launched = LaunchApplication(g_BoardSoftapp1);
    if (!launched)
        SkribLog("whiteboard application found neither at \"%s\" nor at \"%s\"", g_BoardSoftapp.c_str(),
                 g_BoardSoftapp1.c_str());
    return launched;
}

OrientAction OrientAppStart(int pid)
{
    SystemLog("OrientPid:%d\n", pid);
    if (pid > 0 && kill(pid, SIGINT) == 0)
        return ORIENT_INTERRUPTED;

    if (!g_orientOverride.empty()) {
        g_callPath = g_orientOverride;
    } else {
        // The driver's executable stands where its bundle would: cut off its
        // own name and keep the separator, so that the calibration
        // application is looked for in the driver's folder.
        std::string self = ExecutablePath();
        g_callPath = self.substr(0, self.find_last_of('/') + 1) + g_Orientapp;
    }
    if (LaunchApplication(g_callPath))
        return ORIENT_LAUNCHED;
    SkribLog("calibration application not found at \"%s\"", g_callPath.c_str());
    return ORIENT_NOT_FOUND;
}
