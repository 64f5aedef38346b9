#include "SkribOptions.h"

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
        {"--orient-app", &CSkribOptions::orientApp},
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
           "                [--orient-app PATH] [--headless]\n"
           "  --workdir DIR      working folder holding Config/config.xml and LANG/ (default \"" SKRIB_DEFAULT_WORKDIR "\")\n"
           "  --lockdir DIR      folder of the single-instance lock (default " SKRIB_DEFAULT_LOCKDIR ")\n"
           "  --board-app PATH   whiteboard application, first place\n"
           "  --board-app2 PATH  whiteboard application, second place\n"
           "  --orient-app PATH  calibration application (default: Orient.app next to the driver)\n"
           "  --headless         never open a window, even when a display is reachable\n";
}
