#include "SkribOptions.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <cstring>

bool ParseOptions(int argc, const char* const* argv, CSkribOptions& options, std::string& error)
{
    struct ValueOption
    {
        const char* name;
        std::string CSkribOptions::*field;
    };
    static const ValueOption kValueOptions[] = {
        {"--workdir", &CSkribOptions::workDir},      {"--lockdir", &CSkribOptions::lockDir},
        {"--board-app", &CSkribOptions::boardApp},   {"--board-app2", &CSkribOptions::boardApp1},
        {"--orient-app", &CSkribOptions::orientApp}, {"--device", &CSkribOptions::device},
        {"--inject", &CSkribOptions::inject},
    };

    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (strcmp(arg, "--headless") == 0) {
            options.headless = true;
            continue;
        }
        if (strcmp(arg, "--match-hid") == 0) {
            options.matchHid = true;
            continue;
        }
        if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
            options.help = true;
            continue;
        }
        if (strcmp(arg, "--driver-type") == 0) {
            char* end = nullptr;
            long type = i + 1 < argc ? strtol(argv[i + 1], &end, 10) : -1;
            if (i + 1 >= argc || end == argv[i + 1] || *end != '\0' || type < 0 || type > 23 || type == 20) {
                error = "--driver-type needs a driver type from 0 to 23 (not 20)";
                return false;
            }
            options.driverType = static_cast<int>(type);
            ++i;
            continue;
        }
        if (strcmp(arg, "--soft-port") == 0 || strcmp(arg, "--soft-peer-port") == 0) {
            char* end = nullptr;
            long port = i + 1 < argc ? strtol(argv[i + 1], &end, 10) : -1;
            if (i + 1 >= argc || end == argv[i + 1] || *end != '\0' || port < 1 || port > 65535) {
                error = std::string(arg) + " needs a UDP port from 1 to 65535";
                return false;
            }
            (strcmp(arg, "--soft-port") == 0 ? options.softPort : options.softPeerPort) = static_cast<int>(port);
            ++i;
            continue;
        }
        if (strcmp(arg, "--screen") == 0) {
            int w = 0, h = 0;
            char extra = 0;
            if (i + 1 >= argc || sscanf(argv[i + 1], "%dx%d%c", &w, &h, &extra) != 2 || w <= 0 || h <= 0) {
                error = "--screen needs WIDTHxHEIGHT in pixels, e.g. 1920x1080";
                return false;
            }
            options.screenWidth = w;
            options.screenHeight = h;
            ++i;
            continue;
        }
        const ValueOption* match = nullptr;
        for (const ValueOption& option : kValueOptions)
            if (strcmp(arg, option.name) == 0)
                match = &option;
        if (!match) {
            error = std::string("unknown option ") + arg;
            return false;
        }
        if (i + 1 >= argc || argv[i + 1][0] == '\0') {
            error = std::string(arg) + " needs a value";
            return false;
        }
        options.*(match->field) = argv[++i];
    }
    if (options.matchHid && !options.device.empty()) {
        error = "--match-hid and --device exclude each other";
        return false;
    }
    const std::string kinds[] = {"auto", "xtest", "uinput", "none"};
    if (std::find(std::begin(kinds), std::end(kinds), options.inject) == std::end(kinds)) {
        error = "--inject takes auto, xtest, uinput or none";
        return false;
    }
    return true;
}

const char* OptionsUsage()
{
    return "usage: SkribZIW [--workdir DIR] [--lockdir DIR] [--board-app PATH] [--board-app2 PATH]\n"
           "                [--orient-app PATH] [--device /dev/hidrawN [--driver-type N] | --match-hid]\n"
           "                [--inject auto|xtest|uinput|none] [--screen WxH] [--headless]\n"
           "                [--soft-port N] [--soft-peer-port N]\n"
           "  --workdir DIR      working folder holding Config/config.xml and LANG/ (default \"" SKRIB_DEFAULT_WORKDIR "\")\n"
           "  --lockdir DIR      folder of the single-instance lock (default " SKRIB_DEFAULT_LOCKDIR ")\n"
           "  --board-app PATH   whiteboard application, first place\n"
           "  --board-app2 PATH  whiteboard application, second place\n"
           "  --orient-app PATH  calibration application (default: Orient.app next to the driver)\n"
           "  --device NODE      serve this hidraw node, without the device table and the hub rule\n"
           "  --driver-type N    family of the board given with --device (default 16, the ZIW board)\n"
           "  --match-hid        find the boards of the device table by the identity of their HID\n"
           "                     device, without USB parent and hub rule (virtual boards, uhid)\n"
           "  --inject KIND      pointer injection: xtest (X display), uinput (/dev/uinput), none;\n"
           "                     auto (default) takes XTest when an X display answers, else uinput\n"
           "  --screen WxH       screen size for the uinput pointer (default 1920x1080)\n"
           "  --headless         never open a window, even when a display is reachable\n"
           "  --soft-port N      UDP port of the whiteboard application link on 127.0.0.1 (default 9999)\n"
           "  --soft-peer-port N UDP port of the whiteboard application on 127.0.0.1 (default 10000)\n";
}
