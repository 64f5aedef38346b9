#include "SkribOptions.h"

#include <gtest/gtest.h>

#include <vector>

TEST(Options, DefaultsAndOverrides)
{
    CSkribOptions defaults;
    EXPECT_EQ("/Applications/Lorvan ZIW Driver", defaults.workDir);
    EXPECT_EQ("/tmp", defaults.lockDir);

    const char* argv[] = {"SkribZIW",   "--workdir",   "/w",          "--lockdir",    "/l", "--board-app", "/a.app",
                          "--board-app2", "/b.app", "--orient-app", "/o.app", "--headless",
                          "--device", "/dev/hidraw3", "--driver-type", "21", "--inject", "uinput",
                          "--screen", "1440x900", "--soft-port", "19999", "--soft-peer-port", "20000"};
    CSkribOptions options;
    std::string error;
    ASSERT_TRUE(ParseOptions(sizeof argv / sizeof argv[0], argv, options, error)) << error;
    EXPECT_EQ("/w", options.workDir);
    EXPECT_EQ("/l", options.lockDir);
    EXPECT_EQ("/a.app", options.boardApp);
    EXPECT_EQ("/b.app", options.boardApp1);
    EXPECT_EQ("/o.app", options.orientApp);
    EXPECT_TRUE(options.headless);
    EXPECT_EQ("/dev/hidraw3", options.device);
    EXPECT_EQ(21, options.driverType);
    EXPECT_EQ("uinput", options.inject);
    EXPECT_EQ(1440, options.screenWidth);
    EXPECT_EQ(900, options.screenHeight);
    EXPECT_EQ(19999, options.softPort);
    EXPECT_EQ(20000, options.softPeerPort);
    EXPECT_EQ(9999, defaults.softPort);
    EXPECT_EQ(10000, defaults.softPeerPort);
    EXPECT_FALSE(options.matchHid);

    const char* byHid[] = {"SkribZIW", "--match-hid"};
    CSkribOptions hidOptions;
    ASSERT_TRUE(ParseOptions(2, byHid, hidOptions, error)) << error;
    EXPECT_TRUE(hidOptions.matchHid);
}

TEST(Options, RejectsUnknownOptionsAndMissingValues)
{
    const std::vector<std::vector<const char*>> bad = {
        {"SkribZIW", "--bogus"},
        {"SkribZIW", "--workdir"},
        {"SkribZIW", "--workdir", ""},
        {"SkribZIW", "/some/path"},
        {"SkribZIW", "--driver-type", "20"},
        {"SkribZIW", "--driver-type", "24"},
        {"SkribZIW", "--driver-type", "16x"},
        {"SkribZIW", "--inject", "wayland"},
        {"SkribZIW", "--screen", "1920"},
        {"SkribZIW", "--screen", "0x1080"},
        {"SkribZIW", "--soft-port", "0"},
        {"SkribZIW", "--soft-peer-port", "65536"},
        {"SkribZIW", "--soft-port"},
        {"SkribZIW", "--match-hid", "--device", "/dev/hidraw0"},
    };
    for (const auto& argv : bad) {
        CSkribOptions options;
        std::string error;
        EXPECT_FALSE(ParseOptions(static_cast<int>(argv.size()), argv.data(), options, error)) << argv.back();
        EXPECT_FALSE(error.empty());
    }
}
