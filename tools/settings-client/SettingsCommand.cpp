#include "SettingsCommand.h"

#include <climits>
#include <cstring>

const char* SettingsUsage()
{
    return "usage: skrib-settings [--workdir DIR] [--port N] [--count N] COMMAND\n"
           "Talks to the running whiteboard driver through its settings server.\n"
           "\n"
           "  orient N          screen calibration with N targets (4, 9, 12 or 20);\n"
           "                    waits for each point and reports it\n"
           "  hotkey N          hot-key zone calibration with N zones (1 to 30)\n"
           "  sidekey-reload    re-read the side-key switch\n"
           "  penset-reload     re-read the pen settings\n"
           "  driverset-reload  re-read the driver settings (press-value thresholds)\n"
           "  values            print the press value of each touch as it arrives,\n"
           "                    until Ctrl-C (or --count values); on leaving, the driver\n"
           "                    re-reads its driver settings (the thresholds)\n"
           "  auto L            automatic level L (0 to 3)\n"
           "  speed N           speed setting N\n"
           "  raw TOPIC ITEM    start any topic and item; print each advise's bytes\n"
           "\n"
           "  --workdir DIR     the driver's working folder, for its settings file\n"
           "                    (default: the current folder if it holds\n"
           "                    Config/config.xml, else the installed driver's)\n"
           "  --port N          the settings server's port (default: from the settings file)\n"
           "  --count N         with values or raw: leave after N advises\n"
           "\n"
           "Exit status: 0 done, 1 usage, 2 driver not running, 3 topic refused,\n"
           "4 no board active, 5 connection closed by the driver, 6 calibration\n"
           "interrupted.\n";
}

bool ParseSettingsCommand(int argc, const char* const* argv, SettingsCommand& command, std::string& error)
{
    command = SettingsCommand();
    int i = 0;
    for (; i < argc && argv[i][0] == '-' && argv[i][1] == '-'; ++i) {
        const char* option = argv[i];
        if (strcmp(option, "--help") == 0) {
            command.help = true;
            return true;
        }
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (strcmp(option, "--workdir") == 0 && value && *value) {
            command.workDir = value;
        } else if (strcmp(option, "--port") == 0) {
            if (!ParseBoundedInt(value, 1, 65535, command.port)) {
                error = "--port needs a port number from 1 to 65535";
                return false;
            }
        } else if (strcmp(option, "--count") == 0) {
            if (!ParseBoundedInt(value, 0, INT_MAX, command.count)) {
                error = "--count needs a number of 0 or more";
                return false;
            }
        } else {
            error = std::string("unknown option ") + option;
            return false;
        }
        ++i;
    }
    if (i >= argc) {
        error = "no command given";
        return false;
    }
    const std::string name = argv[i++];
    const int rest = argc - i;
    const char* arg = rest > 0 ? argv[i] : nullptr;
    int n = 0;
    auto expect = [&](int wanted) {
        if (rest == wanted)
            return true;
        error = name + (wanted ? " takes " + std::to_string(wanted) + " argument(s)" : " takes no argument");
        return false;
    };

    if (name == "orient") {
        if (!expect(1))
            return false;
        if (!ParseBoundedInt(arg, 1, 100, n) || !IsScreenPointCount(n)) {
            error = "orient needs 4, 9, 12 or 20 targets";
            return false;
        }
        command.topic = "Orient";
        command.mode = MODE_POINTS;
        command.points = n;
    } else if (name == "hotkey") {
        if (!expect(1))
            return false;
        if (!ParseBoundedInt(arg, 1, 30, n)) {
            error = "hotkey needs 1 to 30 zones";
            return false;
        }
        command.topic = "SideKey";
        command.mode = MODE_POINTS;
        command.points = n;
    } else if (name == "sidekey-reload") {
        if (!expect(0))
            return false;
        command.topic = "SideKey";
        command.item = "0";
        return true;
    } else if (name == "penset-reload") {
        if (!expect(0))
            return false;
        command.topic = "PENSET";
        command.item = "0";
        return true;
    } else if (name == "driverset-reload") {
        if (!expect(0))
            return false;
        command.topic = "DriversSet";
        command.item = "save";
        return true;
    } else if (name == "values") {
        if (!expect(0))
            return false;
        command.topic = "DriversSet";
        command.item = "data";
        command.mode = MODE_VALUES;
        return true;
    } else if (name == "auto") {
        if (!expect(1))
            return false;
        if (!ParseBoundedInt(arg, 0, 3, n)) {
            error = "auto needs a level from 0 to 3";
            return false;
        }
        command.topic = "DriversSet";
        command.item = "auto" + std::to_string(n);
        return true;
    } else if (name == "speed") {
        if (!expect(1))
            return false;
        if (!ParseBoundedInt(arg, 0, INT_MAX, n)) {
            error = "speed needs a number of 0 or more";
            return false;
        }
        command.topic = "SetSpeed";
    } else if (name == "raw") {
        if (!expect(2))
            return false;
        command.topic = argv[i];
        command.item = argv[i + 1];
        command.mode = MODE_RAW;
        return true;
    } else {
        error = "unknown command " + name;
        return false;
    }
    // orient, hotkey, speed: the number is the item.
    command.item = std::to_string(n);
    return true;
}
