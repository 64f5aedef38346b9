#include "SkribOptions.h"

#include <cstdlib>
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
    };

    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (strcmp(arg, "--headless") == 0) {
            options.headless = true;
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
    return true;
}

const char* OptionsUsage()
{
    return "usage: SkribZIW [--workdir DIR] [--lockdir DIR] [--board-app PATH] [--board-app2 PATH]\n"
           "                [--orient-app PATH] [--device /dev/hidrawN [--driver-type N]] [--headless]\n"
           "  --workdir DIR      working folder holding Config/config.xml and LANG/ (default \"" SKRIB_DEFAULT_WORKDIR "\")\n"
           "  --lockdir DIR      folder of the single-instance lock (default " SKRIB_DEFAULT_LOCKDIR ")\n"
           "  --board-app PATH   whiteboard application, first place\n"
           "  --board-app2 PATH  whiteboard application, second place\n"
           "  --orient-app PATH  calibration application (default: Orient.app next to the driver)\n"
           "  --device NODE      serve this hidraw node, without the device table and the hub rule\n"
           "  --driver-type N    family of the board given with --device (default 16, the ZIW board)\n"
           "  --headless         never open a window, even when a display is reachable\n";
}
