// Messages of the whiteboard application link without sockets: parsing of
// received texts, framing of sent ones, and what the link does on each
// message (answers, flags, notifications to the work thread).
#include "DeviceInfo.h"
#include "SkribAppTypes.h"
#include "SkribIPCSock.h"
#include "SoftLinkFlags.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

const int kIgnore = SOFT_ACTION_IGNORE;

// `text` padded with blanks to `length` characters.
std::string Padded(const std::string& text, size_t length)
{
    std::string padded = text;
    padded.resize(length, ' ');
    return padded;
}

TEST(SoftMsgParse, Table)
{
    struct Case
    {
        std::string text;
        int action;
        int port;   // checked for the two-user starts
        int middle; // checked for WorkRect
    } cases[] = {
        {"#TQ@Start", SOFT_ACTION_START, 0, 0},
        {"XTQYStart", SOFT_ACTION_START, 0, 0},         // bytes 0 and 3 are not looked at
        {"#TQ@start", kIgnore, 0, 0},                   // names are case-sensitive
        {"#TQ@Start ", kIgnore, 0, 0},                  // whole-text names: no trailing blank
        {"#TQ@Star", kIgnore, 0, 0},
        {"#XX@Start", kIgnore, 0, 0},
        {"#TX@Start", kIgnore, 0, 0},
        {"TQ@Start", kIgnore, 0, 0},                    // "TQ" must be at bytes 1-2
        {"", kIgnore, 0, 0},
        {"#T", kIgnore, 0, 0},
        {"#TQ", kIgnore, 0, 0},
        {"#TQ@", kIgnore, 0, 0},
        {"#TQ@Close", SOFT_ACTION_CLOSE, 0, 0},
        {"#TQ@StartDualSplit@5001", SOFT_ACTION_START_DUAL_SPLIT, 5001, 0},
        {"#TQ@StartDual@5000", SOFT_ACTION_START_DUAL, 5000, 0},
        {"#TQ@StartDual", SOFT_ACTION_START_DUAL, 0, 0}, // missing port reads as 0
        {"#TQ@StartDual@", SOFT_ACTION_START_DUAL, 0, 0},
        {"#TQ@StartDualSplit", SOFT_ACTION_START_DUAL_SPLIT, 0, 0},
        {"#TQ@StartDualSplit5001", SOFT_ACTION_START_DUAL_SPLIT, 1, 0}, // byte 18 is the separator, whatever it is
        {"#TQ@StartDual:7000xyz", SOFT_ACTION_START_DUAL, 7000, 0},     // atoi: digits up to the first other character
        {"#TQ@StartDual@ -12", SOFT_ACTION_START_DUAL, -12, 0},         // atoi: leading blanks and a sign
        {"#TQ@StartDual@abc", SOFT_ACTION_START_DUAL, 0, 0},
        {"#TQ@StartDual@99999999999999999999", SOFT_ACTION_START_DUAL, INT_MAX, 0}, // clamped, no overflow
        {"#TQ@StartDualS", SOFT_ACTION_START_DUAL, 0, 0},               // not yet "StartDualSplit"
        {"#TQ@ShutDownDual", SOFT_ACTION_SHUTDOWN_DUAL, 0, 0},
        {"#TQ@ShutDownDual and more", SOFT_ACTION_SHUTDOWN_DUAL, 0, 0}, // prefix rules ignore what follows
        {"#TQ@ShutDown", kIgnore, 0, 0},
        {"#TQ@WorkRect@100,0,801,600", SOFT_ACTION_WORK_RECT, 0, 500},
        {"#TQ@WorkRect@100,0,801,600 trailing", SOFT_ACTION_WORK_RECT, 0, 500},
        {"#TQ@WorkRect:-100,5,-801,600", SOFT_ACTION_WORK_RECT, 0, -500}, // halves round toward zero
        {"#TQ@WorkRect@0,0,1,1", SOFT_ACTION_WORK_RECT, 0, 0},
        {"#TQ@WorkRect@2147483647,0,2,0", kIgnore, 0, 0},                 // middle beyond int
        {"#TQ@WorkRect@9999999999,0,2,0", kIgnore, 0, 0},                 // number beyond int
        {"#TQ@WorkRect@100,0,801", kIgnore, 0, 0},                        // three numbers
        {"#TQ@WorkRect@100,0,,600", kIgnore, 0, 0},
        {"#TQ@WorkRect@x,0,801,600", kIgnore, 0, 0},
        {"#TQ@WorkRect@100;0;801;600", kIgnore, 0, 0},
        {"#TQ@WorkRect@", kIgnore, 0, 0},
        {"#TQ@WorkRect", kIgnore, 0, 0},
        {"#TQ@Earea", SOFT_ACTION_EAREA, 0, 0},
        {"#TQ@Mouse", SOFT_ACTION_MOUSE, 0, 0},
        {"#TQ@Pen", SOFT_ACTION_PEN, 0, 0},
        {"#TQ@InBoardFrm", SOFT_ACTION_IN_BOARD_FRM, 0, 0},
        {"#TQ@NotInBoardFrm", SOFT_ACTION_NOT_IN_BOARD_FRM, 0, 0},
        {"#TQ@InBoardFrmX", kIgnore, 0, 0},
        // The receive buffer: 49 characters fit with their zero, 50 do not.
        {Padded("#TQ@StartDual@5002", 49), SOFT_ACTION_START_DUAL, 5002, 0},
        {Padded("#TQ@StartDual@5002", 50), kIgnore, 0, 0},
        {Padded("#TQ@WorkRect@1,2,3,4", 49), SOFT_ACTION_WORK_RECT, 0, 2},
        {Padded("#TQ@WorkRect@1,2,3,4", 50), kIgnore, 0, 0},
        {Padded("#TQ@ShutDownDual", 1000), kIgnore, 0, 0},
        // The text ends at the first zero byte.
        {std::string("#TQ@Start\0garbage", 17), SOFT_ACTION_START, 0, 0},
        {std::string("#TQ@Start\0", 10), SOFT_ACTION_START, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("\"" + c.text + "\" (" + std::to_string(c.text.size()) + " bytes)");
        // An exact-size copy: a read past the datagram is caught.
        std::unique_ptr<char[]> data(new char[c.text.size() + 1]);
        memcpy(data.get(), c.text.data(), c.text.size());
        const tagSoftMsg msg = ParseSoftMsg(data.get(), c.text.size());
        EXPECT_EQ(c.action, msg.action);
        if (c.action == SOFT_ACTION_START_DUAL || c.action == SOFT_ACTION_START_DUAL_SPLIT) {
            EXPECT_EQ(c.port, msg.port);
        }
        if (c.action == SOFT_ACTION_WORK_RECT) {
            EXPECT_EQ(c.middle, msg.middle);
        }
    }
}

TEST(SoftMsgFrame, Table)
{
    struct Case
    {
        int index;
        int driverType;
        const char* text;
    } cases[] = {
        {MSG_CONNECT, 16, "#TQ@Connect@StyleZIW"},
        {MSG_DISCONNECT, 16, "#TQ@DisConnect@StyleZIW"},
        {MSG_DISCONNECT, 2, "#TQ@DisConnect@StyleMO"},
        {MSG_DISCONNECT, -1, "#TQ@DisConnect"},
        {MSG_CONNECT, -1, "#TQ@Connect"},
        {MSG_IS_START, 16, "#TQ@IsStart"},         // only DisConnect and Connect carry the style
        {MSG_DOUPEN_ENABLED, 16, "#TQ@DouPenEnabled"},
        {MSG_ENABLE_GESTURE, 11, "#TQ@EnableGuesture"},
        {MSG_DISABLE_GESTURE, 0, "#TQ@DisableGuesture"},
        {MSG_CONNECT, 0, "#TQ@Connect@StyleKA"},   // 0 is a style, not "none"
        {MSG_CONNECT, 11, "#TQ@Connect@StyleVUQDG"},
        {MSG_CONNECT, 18, "#TQ@Connect"},          // the KAPD types have no style name
        {MSG_DISCONNECT, 19, "#TQ@DisConnect"},
        {MSG_CONNECT, 20, "#TQ@Connect"},          // beyond the table
        {MSG_CONNECT, 23, "#TQ@Connect"},
        {MSG_CONNECT, -2, "#TQ@Connect"},
        {6, 16, ""},                               // no such message
        {-1, 16, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("index " + std::to_string(c.index) + ", type " + std::to_string(c.driverType));
        EXPECT_EQ(c.text, FrameSoftMsg(c.index, c.driverType));
    }
}

TEST(SoftMsgFrame, StyleTableFollowsTheDriverTypes)
{
    const char* const names[20] = {
        "StyleKA",  "StyleKAD",  "StyleMO",   "StyleMOG",   "StyleMOD", "StyleMODG", "StyleVU",
        "StyleVUG", "StyleVUD",  "StyleVUDG", "StyleVUQG",  "StyleVUQDG", "StyleNE", "StyleBO",
        "StyleBOFD", "StyleBOTD", "StyleZIW", "StyleHU",    nullptr,    nullptr,
    };
    for (int type = 0; type < 20; ++type) {
        SCOPED_TRACE(type);
        if (!names[type]) {
            EXPECT_EQ(nullptr, g_board_type[type]);
            continue;
        }
        ASSERT_NE(nullptr, g_board_type[type]);
        EXPECT_STREQ(names[type], g_board_type[type]);
        EXPECT_EQ(std::string("#TQ@Connect@") + names[type], FrameSoftMsg(MSG_CONNECT, type));
    }
}

// Records what the link hands to the work thread.
class CRecordingHost : public ISoftLinkHost
{
public:
    void NotifyWork(ClientNotify_Type kind, int value) override { notes.emplace_back(kind, value); }
    std::vector<std::pair<int, int>> notes;
};

// The link with its datagrams recorded instead of sent.
class CRecordingLink : public CSkribIPCSock
{
public:
    explicit CRecordingLink(ISoftLinkHost* host) : CSkribIPCSock(host, nullptr) {}
    void OnSend(const char* data, int length) override { sent.emplace_back(data, static_cast<size_t>(length)); }
    std::vector<std::string> sent;
};

struct Flags
{
    bool softStart;
    bool onBoard;
    int port;
};

void SetFlags(const Flags& flags)
{
    g_bSoftStart = flags.softStart;
    g_bOnBoard = flags.onBoard;
    g_iSotfPort = flags.port;
}

TEST(SoftLinkRecv, Table)
{
    using Notes = std::vector<std::pair<int, int>>;
    using Sent = std::vector<std::string>;
    struct Case
    {
        int driverType;
        const char* text;
        Flags before;
        Sent sent;
        Notes notes;
        Flags after;
    } cases[] = {
        // "Start": announced state as the answer.
        {-1, "#TQ@Start", {false, false, -1}, {"#TQ@DisConnect"}, {}, {true, false, -1}},
        {16, "#TQ@Start", {false, false, -1}, {"#TQ@Connect@StyleZIW", "#TQ@DouPenEnabled"}, {}, {true, false, -1}},
        {0, "XTQYStart", {false, true, 7}, {"#TQ@Connect@StyleKA", "#TQ@DouPenEnabled"}, {}, {true, true, 7}},
        {18, "#TQ@Start", {false, false, -1}, {"#TQ@Connect", "#TQ@DouPenEnabled"}, {}, {true, false, -1}},
        {21, "#TQ@Start", {false, false, -1}, {"#TQ@DisConnect"}, {}, {true, false, -1}}, // a detect value is no style
        {16, "#TQ@start", {false, false, -1}, {}, {}, {false, false, -1}},
        {16, "#TQ@Start ", {false, false, -1}, {}, {}, {false, false, -1}},
        {16, "#XX@Start", {false, false, -1}, {}, {}, {false, false, -1}},
        // "Close" also ends the two-user mode.
        {16, "#TQ@Close", {true, true, 5000}, {}, {{NOTIFY_DUAL_SHUTDOWN, 0}}, {false, true, 5000}},
        // Two-user mode: the port is kept for the dual-user link.
        {16, "#TQ@StartDual@5000", {true, false, -1}, {}, {{NOTIFY_DUAL_START, 5000}}, {true, false, 5000}},
        {16, "#TQ@StartDualSplit@5001", {true, false, -1}, {}, {{NOTIFY_DUAL_SPLIT_START, 5001}}, {true, false, 5001}},
        {16, "#TQ@StartDual", {true, false, 5000}, {}, {{NOTIFY_DUAL_START, 0}}, {true, false, 0}},
        {16, "#TQ@ShutDownDual", {true, false, 5000}, {}, {{NOTIFY_DUAL_SHUTDOWN, 0}}, {true, false, 5000}},
        // The working area's middle, and no answer.
        {16, "#TQ@WorkRect@100,0,801,600", {true, false, -1}, {}, {{NOTIFY_WORK_RECT, 500}}, {true, false, -1}},
        {16, "#TQ@WorkRect@100,0", {true, false, -1}, {}, {}, {true, false, -1}},
        // The board window.
        {16, "#TQ@InBoardFrm", {true, false, -1}, {}, {}, {true, true, -1}},
        {16, "#TQ@NotInBoardFrm", {true, true, -1}, {}, {}, {true, false, -1}},
        // Known names without an effect.
        {16, "#TQ@Earea", {true, true, 3}, {}, {}, {true, true, 3}},
        {16, "#TQ@Mouse", {true, true, 3}, {}, {}, {true, true, 3}},
        {16, "#TQ@Pen", {false, false, 3}, {}, {}, {false, false, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.text + "\" with type " + std::to_string(c.driverType));
        SetFlags(c.before);
        CRecordingHost host;
        CRecordingLink link(&host);
        link.SetDriverType(c.driverType);
        link.OnRecv(c.text);
        EXPECT_EQ(c.sent, link.sent);
        EXPECT_EQ(c.notes, host.notes);
        EXPECT_EQ(c.after.softStart, g_bSoftStart.load());
        EXPECT_EQ(c.after.onBoard, g_bOnBoard.load());
        EXPECT_EQ(c.after.port, g_iSotfPort.load());
    }
}

TEST(SoftLinkRecv, TextWithoutZeroInTheBufferIsIgnored)
{
    // A buffer filled to the last byte with a message and blanks: no room for
    // the zero, so the message did not fit. Exactly this size on the heap: a
    // read past it is caught.
    const std::string text = Padded("#TQ@ShutDownDual", SOFT_RECV_BUFSIZE);
    std::unique_ptr<char[]> buf(new char[SOFT_RECV_BUFSIZE]);
    memcpy(buf.get(), text.data(), SOFT_RECV_BUFSIZE);
    CRecordingHost host;
    CRecordingLink link(&host);
    link.OnRecv(buf.get());
    EXPECT_TRUE(host.notes.empty());

    buf[SOFT_RECV_BUFSIZE - 1] = '\0';
    link.OnRecv(buf.get());
    EXPECT_EQ((std::vector<std::pair<int, int>>{{NOTIFY_DUAL_SHUTDOWN, 0}}), host.notes);
}

TEST(SoftLinkRecv, NotificationsWithoutHostAreDropped)
{
    SetFlags({true, false, -1});
    CRecordingLink link(nullptr);
    link.OnRecv("#TQ@StartDual@4000");
    link.OnRecv("#TQ@WorkRect@1,2,3,4");
    link.OnRecv("#TQ@Close");
    EXPECT_EQ(4000, g_iSotfPort.load());
    EXPECT_FALSE(g_bSoftStart.load());
}

TEST(SoftLinkSend, FramedMessagesFollowTheStyle)
{
    CRecordingLink link(nullptr);
    link.SetDriverType(DRIVER_ZIW);
    link.SendMsgToSoft(MSG_CONNECT);
    link.SendMsgToSoft(MSG_IS_START);
    link.SendMsgToSoft(MSG_DISCONNECT);
    link.SetDriverType(-1);
    link.SendMsgToSoft(MSG_DISCONNECT);
    link.SendMsgToSoft(6);
    EXPECT_EQ((std::vector<std::string>{"#TQ@Connect@StyleZIW", "#TQ@IsStart", "#TQ@DisConnect@StyleZIW",
                                        "#TQ@DisConnect"}),
              link.sent);
}

} // namespace
