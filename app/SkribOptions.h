// Command-line options of the driver.
#pragma once

#include <string>

#define SKRIB_DEFAULT_WORKDIR "/Applications/Lorvan ZIW Driver"
#define SKRIB_DEFAULT_LOCKDIR "/tmp"

struct CSkribOptions
{
    std::string workDir = SKRIB_DEFAULT_WORKDIR; // --workdir DIR
    std::string lockDir = SKRIB_DEFAULT_LOCKDIR; // --lockdir DIR (single-instance lock)
    std::string boardApp;                        // --board-app PATH (first place of the whiteboard application)
    std::string boardApp1;                       // --board-app2 PATH (second place)
    std::string orientApp;                       // --orient-app PATH (calibration application)
    std::string device;                          // --device /dev/hidrawN: serve this node as given
    bool matchHid = false;                       // --match-hid: find table boards by their HID identity
    int driverType = 16;                         // --driver-type N: its family (default the ZIW board)
    std::string inject = "auto";                 // --inject auto|xtest|uinput|none
    int screenWidth = 1920, screenHeight = 1080; // --screen WxH: the screen of the uinput pointer
    int softPort = 9999;                         // --soft-port N: where the whiteboard application's datagrams arrive
    int softPeerPort = 10000;                    // --soft-peer-port N: where the driver's datagrams go
    bool headless = false;                       // --headless: no window even when a display exists
    bool help = false;                           // --help
};

// Parses argv[1..]; false with a message in `error` for an unknown option or
// a missing value.
bool ParseOptions(int argc, const char* const* argv, CSkribOptions& options, std::string& error);

const char* OptionsUsage();
