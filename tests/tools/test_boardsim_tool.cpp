// skrib-boardsim as a program: the reports its scripts write to a node,
// the driver's output reports it prints with --read (from a file, and live
// through a pseudo-terminal handed over with --fd), and its refusals.
#include "ToolProcess.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string kTool = SKRIB_BOARDSIM_EXE;

// One contact of a ZIW report: status, X, Y and the two size values.
struct C
{
    int status, x, y, a, b;
};

// The 64-byte report with these contacts, laid out by hand.
Bytes Report(const std::vector<C>& contacts)
{
    Bytes r(64, 0);
    r[0] = 1;
    for (size_t i = 0; i < contacts.size(); ++i) {
        const int at = i == 0 ? 1 : 11;
        const int values[4] = {contacts[i].x, contacts[i].y, contacts[i].a, contacts[i].b};
        r[at] = static_cast<std::uint8_t>(contacts[i].status);
        for (int v = 0; v < 4; ++v) {
            r[at + 2 + 2 * v] = static_cast<std::uint8_t>(values[v] & 0xFF);
            r[at + 3 + 2 * v] = static_cast<std::uint8_t>(values[v] >> 8);
        }
    }
    return r;
}

// The hex of each 64-byte report in `data`, one per element.
std::vector<std::string> Reports(const std::string& data)
{
    std::vector<std::string> out;
    for (size_t at = 0; at + 64 <= data.size(); at += 64)
        out.push_back(Hex(Bytes(data.begin() + at, data.begin() + at + 64)));
    if (data.size() % 64)
        out.push_back("stray " + std::to_string(data.size() % 64) + " bytes");
    return out;
}

Bytes ConnectCommand()
{
    Bytes c(64, 0);
    c[0] = 2;
    c[1] = 1;
    c[2] = 1;
    return c;
}

TEST(BoardSimTool, WritesTheScriptedReportsToANode)
{
    const struct
    {
        const char* name;
        std::vector<std::string> args;
        std::vector<std::vector<C>> reports;
    } cases[] = {
        {"stroke",
         {"--steps", "2", "--size", "40,20", "--stroke", "100,200:300,400"},
         {{{7, 100, 200, 40, 20}}, {{7, 200, 300, 40, 20}}, {{7, 300, 400, 40, 20}}, {{0, 300, 400, 40, 20}}}},
        {"pair with two releases",
         {"--steps", "1", "--size", "1,2", "--size2", "3,4", "--releases", "2", "--pair", "0,0:10,10/500,500"},
         {{{7, 0, 0, 1, 2}, {7, 500, 500, 3, 4}},
          {{7, 10, 10, 1, 2}, {7, 500, 500, 3, 4}},
          {{0, 10, 10, 1, 2}, {0, 500, 500, 3, 4}},
          {{0, 10, 10, 1, 2}, {0, 500, 500, 3, 4}}}},
        {"rectangle without releases, silence between",
         {"--steps", "1", "--releases", "0", "--rect", "0,0,10,20", "--silence", "30", "--stroke", "5,5"},
         {{{7, 0, 0, 100, 60}}, {{7, 10, 0, 100, 60}},
          {{7, 10, 0, 100, 60}}, {{7, 10, 20, 100, 60}},
          {{7, 10, 20, 100, 60}}, {{7, 0, 20, 100, 60}},
          {{7, 0, 20, 100, 60}}, {{7, 0, 0, 100, 60}},
          {{7, 5, 5, 100, 60}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CTempDir dir;
        const std::string node = dir.File("node");
        std::vector<std::string> argv = {kTool, "--node", node, "--rate", "1000"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        // The node must exist, as a device node would.
        close(open(node.c_str(), O_CREAT | O_WRONLY, 0644));
        ASSERT_EQ(RunTool(argv, dir.File("out")), 0) << ReadWholeFile(dir.File("out"));

        std::vector<std::string> expected;
        for (const std::vector<C>& r : c.reports)
            expected.push_back(Hex(Report(r)));
        EXPECT_EQ(Reports(ReadWholeFile(node)), expected);
    }
}

TEST(BoardSimTool, ReadPrintsTheDriversOutputReports)
{
    CTempDir dir;
    const std::string node = dir.File("node");
    Bytes written = ConnectCommand();
    const Bytes other(64, 0x5A);
    written.insert(written.end(), other.begin(), other.end());
    written.insert(written.end(), {2, 1, 1});
    {
        FILE* f = fopen(node.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fwrite(written.data(), 1, written.size(), f);
        fclose(f);
    }
    ASSERT_EQ(RunTool({kTool, "--node", node, "--read"}, dir.File("out")), 0);

    std::istringstream out(ReadWholeFile(dir.File("out")));
    std::vector<std::string> lines;
    for (std::string line; std::getline(out, line);)
        lines.push_back(line[0] == '+' ? line.substr(line.find(' ') + 1) : line); // without the time offset
    const std::vector<std::string> expected = {"connect " + Hex(ConnectCommand()), "report " + Hex(other),
                                               "# 3 bytes of an incomplete report"};
    EXPECT_EQ(lines, expected);
}

// As a test on a mock node would use it: the test holds one end of a
// pseudo-terminal and hands it over with --fd; the other end is the node.
TEST(BoardSimTool, PlaysAndReadsThroughAHandedOverPseudoTerminal)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const int node = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(node, 0);

    CTempDir dir;
    CToolProcess tool;
    // X = 0x0A0D and sizes 0x0D0A, 0x0304: bytes a terminal would rewrite.
    ASSERT_TRUE(tool.Start({kTool, "--fd", std::to_string(master), "--rate", "500", "--read", "--size", "3338,772",
                            "--steps", "1", "--stroke", "2573,17:2573,17", "--duration-ms", "60000"},
                           dir.File("out"), master));

    const std::string expected = Hex(Report({{7, 0x0A0D, 17, 0x0D0A, 0x0304}})) + "\n" +
                                 Hex(Report({{7, 0x0A0D, 17, 0x0D0A, 0x0304}})) + "\n" +
                                 Hex(Report({{0, 0x0A0D, 17, 0x0D0A, 0x0304}})) + "\n";
    std::string got;
    Bytes pending;
    ASSERT_TRUE(WaitUntil(
        [&] {
            std::uint8_t buf[256];
            pollfd p{node, POLLIN, 0};
            while (poll(&p, 1, 0) > 0) {
                const ssize_t n = read(node, buf, sizeof buf);
                if (n <= 0)
                    break;
                pending.insert(pending.end(), buf, buf + n);
            }
            while (pending.size() >= 64) {
                got += Hex(Bytes(pending.begin(), pending.begin() + 64)) + "\n";
                pending.erase(pending.begin(), pending.begin() + 64);
            }
            return got.size() >= expected.size();
        },
        10000))
        << got;
    EXPECT_EQ(got, expected);

    // The driver's connect command, written in two pieces.
    const Bytes connect = ConnectCommand();
    ASSERT_EQ(write(node, connect.data(), 10), 10);
    ASSERT_EQ(write(node, connect.data() + 10, 54), 54);
    const std::string line = " connect " + Hex(connect) + "\n";
    EXPECT_TRUE(WaitUntil([&] { return ReadWholeFile(dir.File("out")).find(line) != std::string::npos; }, 10000))
        << ReadWholeFile(dir.File("out"));

    tool.Signal(SIGTERM);
    int status = 0;
    ASSERT_TRUE(tool.WaitExit(10000, status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    close(node);
    close(master);
}

TEST(BoardSimTool, RefusesBadArgumentsBeforeTouchingTheNode)
{
    CTempDir dir;
    const std::string node = dir.File("node");
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--stroke", "1,2:3,4"},
        {"--node", node, "--fd", "1"},
        {"--print", "--read"},
        {"--node", node, "--stroke", "1,2:3"},
        {"--node", node, "--stroke", "70000,1"},
        {"--node", node, "--pair", "1,2:3,4"},
        {"--node", node, "--rect", "1,2,3"},
        {"--node", node, "--rate", "0"},
        {"--node", node, "--size", "1"},
        {"--node", node, "--steps", "x"},
        {"--node", node, "--stroke"},
        {"--node", node, "--bogus", "1"},
    };
    for (const std::vector<std::string>& args : cases) {
        std::vector<std::string> argv = {kTool};
        argv.insert(argv.end(), args.begin(), args.end());
        std::string name;
        for (const std::string& a : args)
            name += a + " ";
        SCOPED_TRACE(name);
        EXPECT_EQ(RunTool(argv, dir.File("out")), 2);
        EXPECT_FALSE(FileExists(node));
    }
}

} // namespace
