// The settings client's command line: each command's topic, item and way of
// waiting, and the command lines it turns away.
#include "SettingsCommand.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

bool Parse(const std::vector<const char*>& args, SettingsCommand& command, std::string& error)
{
    return ParseSettingsCommand(static_cast<int>(args.size()), args.data(), command, error);
}

TEST(SettingsCommandTest, EachCommandStartsItsTopicAndItem)
{
    struct Case
    {
        std::vector<const char*> args;
        const char* topic;
        const char* item;
        CommandMode mode;
        int points;
    } cases[] = {
        {{"orient", "9"}, "Orient", "9", MODE_POINTS, 9},
        {{"orient", "20"}, "Orient", "20", MODE_POINTS, 20},
        {{"hotkey", "28"}, "SideKey", "28", MODE_POINTS, 28},
        {{"sidekey-reload"}, "SideKey", "0", MODE_ONCE, 0},
        {{"penset-reload"}, "PENSET", "0", MODE_ONCE, 0},
        {{"driverset-reload"}, "DriversSet", "save", MODE_ONCE, 0},
        {{"values"}, "DriversSet", "data", MODE_VALUES, 0},
        {{"auto", "3"}, "DriversSet", "auto3", MODE_ONCE, 0},
        {{"speed", "12"}, "SetSpeed", "12", MODE_ONCE, 0},
        {{"raw", "Foo", "Auto2"}, "Foo", "Auto2", MODE_RAW, 0},
    };
    for (const Case& c : cases) {
        SettingsCommand command;
        std::string error;
        ASSERT_TRUE(Parse(c.args, command, error)) << c.args[0] << ": " << error;
        EXPECT_EQ(c.topic, command.topic) << c.args[0];
        EXPECT_EQ(c.item, command.item) << c.args[0];
        EXPECT_EQ(c.mode, command.mode) << c.args[0];
        EXPECT_EQ(c.points, command.points) << c.args[0];
        EXPECT_EQ(-1, command.count) << c.args[0];
    }
}

TEST(SettingsCommandTest, OptionsComeBeforeTheCommand)
{
    SettingsCommand command;
    std::string error;
    ASSERT_TRUE(Parse({"--workdir", "/w", "--port", "5000", "--count", "0", "values"}, command, error)) << error;
    EXPECT_EQ("/w", command.workDir);
    EXPECT_EQ(5000, command.port);
    EXPECT_EQ(0, command.count);
    ASSERT_TRUE(Parse({"--help"}, command, error));
    EXPECT_TRUE(command.help);
}

TEST(SettingsCommandTest, RefusesWhatTheDriverCouldNotRun)
{
    const std::vector<std::vector<const char*>> refused = {
        {},
        {"orient", "5"},        // no calibration grid of 5
        {"orient", "9x"},
        {"hotkey", "0"},        // that is the side-key reload
        {"hotkey", "31"},       // more points than a run holds
        {"auto", "4"},
        {"speed", "-1"},
        {"values", "1"},
        {"raw", "Orient"},
        {"calibrate"},
        {"--port", "0", "values"},
        {"--port", "65536", "values"},
        {"--count", "-1", "values"},
        {"--verbose", "values"},
    };
    for (const std::vector<const char*>& args : refused) {
        SettingsCommand command;
        std::string error;
        EXPECT_FALSE(Parse(args, command, error)) << (args.empty() ? "(nothing)" : args[0]);
        EXPECT_FALSE(error.empty());
    }
}

} // namespace
