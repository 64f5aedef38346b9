#include "SkribOptions.h"

#include <gtest/gtest.h>

#include <vector>

TEST(Options, DefaultsAndOverrides)
{
    CSkribOptions defaults;
    EXPECT_EQ("/Applications/Lorvan ZIW Driver", defaults.workDir);
    EXPECT_EQ("/tmp", defaults.lockDir);

    const char* argv[] = {"SkribZIW",   "--workdir",   "/w",          "--lockdir",    "/l", "--board-app", "/a.app",
                          "--board-app2", "/b.app", "--orient-app", "/o.app", "--headless"};
    CSkribOptions options;
    std::string error;
    ASSERT_TRUE(ParseOptions(sizeof argv / sizeof argv[0], argv, options, error)) << error;
    EXPECT_EQ("/w", options.workDir);
    EXPECT_EQ("/l", options.lockDir);
    EXPECT_EQ("/a.app", options.boardApp);
    EXPECT_EQ("/b.app", options.boardApp1);
    EXPECT_EQ("/o.app", options.orientApp);
    EXPECT_TRUE(options.headless);
}

TEST(Options, RejectsUnknownOptionsAndMissingValues)
{
    const std::vector<std::vector<const char*>> bad = {
        {"SkribZIW", "--bogus"},
        {"SkribZIW", "--workdir"},
        {"SkribZIW", "--workdir", ""},
        {"SkribZIW", "/some/path"},
    };
    for (const auto& argv : bad) {
        CSkribOptions options;
        std::string error;
        EXPECT_FALSE(ParseOptions(static_cast<int>(argv.size()), argv.data(), options, error)) << argv.back();
        EXPECT_FALSE(error.empty());
    }
}
