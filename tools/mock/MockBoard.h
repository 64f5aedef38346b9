// Boards on a mock sysfs and /dev (umockdev), for programs that run the real
// driver against a simulated board: the tests and the demonstration.
//
// The mock works through a preload library that must be in place when the
// process starts: call RunUnderMockPreload first thing in main. Child
// processes (the driver) inherit the preload and the mock's folder, so they
// see the same devices.
#pragma once

#include "BoardSim.h"

#include <string>

typedef struct _UMockdevTestbed UMockdevTestbed;

// Re-executes the program with the mock's preload library unless it already
// runs with it. Returns only in the re-executed program (true) or when the
// re-execution failed (false). A sanitizer's log_path is dropped (its log
// file would be opened through the preload before the mock is ready, which
// crashes): sanitizer reports then go to standard error.
bool RunUnderMockPreload(char** argv);

// sysfs description (umockdev's text format) of a USB device at `path`.
std::string MockUsbDevice(const std::string& path, const char* vid, const char* pid);

// A board vid:pid at `path` with two HID interfaces and hidraw nodes `raw0`
// (input report only) and `raw1` (input and output reports: the one a ZIW
// board is served on). `hidSerial` numbers the HID devices.
std::string MockBoardTree(const std::string& path, const std::string& raw0, const std::string& raw1, int hidSerial,
                          const char* vid = "1477", const char* pid = "1223");

// Report descriptors of the two interfaces, as hex text without blanks: the first has a
// 64-byte input report (id 1), the second that and a 64-byte output report
// (id 2).
extern const char* const kMockInputOnlyDescriptor;
extern const char* const kMockInOutDescriptor;

// The mock bus of the driver's world: a root hub and the board's hub
// 1314:1055, and one ZIW board that can be plugged into port 3 of the hub,
// pulled out and plugged in again.
class CMockBoard
{
public:
    CMockBoard();
    ~CMockBoard();
    CMockBoard(const CMockBoard&) = delete;
    CMockBoard& operator=(const CMockBoard&) = delete;

    // False when the process does not run under the preload.
    bool Ready() const { return m_testbed != nullptr; }
    UMockdevTestbed* Testbed() const { return m_testbed; }

    // Adds the board (announcing it); new node names on each plug.
    bool Plug(std::string& error);
    // Takes it away as the kernel does: remove events of the children, then
    // of the board, each before its removal.
    void Unplug();
    bool Plugged() const { return m_plugged; }

    // The board's end of the served node, and its path ("/dev/hidrawN").
    int NodeFd() const;
    const std::string& Node() const { return m_raw1Node; }

    // Writes bytes (whole reports) at the board's end of the node.
    bool Send(const SimBytes& bytes);

    // The sysfs path of the board.
    static const char* BoardPath();

private:
    void DropDanglingLinks();

    UMockdevTestbed* m_testbed = nullptr;
    bool m_plugged = false;
    int m_plugs = 0;
    std::string m_raw0, m_raw1, m_raw1Node;
};
