// HID boards through the kernel's hidraw nodes, found with libudev: the
// nodes of a board, their report descriptors, the exclusive hold against the
// kernel's own pointer for the board, and a reader thread per open node.
#pragma once

#include "PollThread.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct HidrawNode
{
    std::string devNode;    // "/dev/hidrawN"
    std::string hidSysPath; // the "hid" parent in sysfs
    int interfaceNumber = -1;
    std::vector<unsigned char> descriptor; // report descriptor bytes
};

// Vendor and product from a hid device's HID_ID ("0003:00001477:00001223").
bool ParseHidId(const char* hidId, int& vid, int& pid);

// The hidraw nodes whose "hid" parent carries vendor `vid` and product `pid`
// (HID_ID), one per HID interface, in interface order. With `usbSysPath`,
// only nodes below that USB device count.
std::vector<HidrawNode> FindHidrawNodes(int vid, int pid, const std::string& usbSysPath);

// The node `devNode` itself (a board given by hand); false when it is not a
// hidraw node that udev knows.
bool DescribeHidrawNode(const std::string& devNode, HidrawNode& node);

// An open hidraw node with its reader thread.
class CHidrawPort
{
public:
    using BytesHandler = std::function<void(const unsigned char* data, size_t len)>;

    ~CHidrawPort();

    // Opens the node and grabs the kernel's event nodes of `hidSysPaths` (the
    // board's HID interfaces), so that the board does not also move the
    // pointer through the kernel. A failed grab is logged, not fatal.
    bool Open(const std::string& devNode, const std::vector<std::string>& hidSysPaths);

    // Starts the reader: every read's bytes go to `onBytes`; the thread ends
    // quietly when the board goes away.
    bool StartReader(BytesHandler onBytes);

    // A node that delivers a byte stream rather than one report per read.
    bool IsStream() const { return m_bStream; }
    bool Gone() const { return m_bGone.load(); }

    // One output report; the count written, or -1.
    int Write(const unsigned char* data, int len);

    // Stops and joins the reader, releases the grabs and closes the node.
    void Close();

private:
    int m_fd = -1;
    bool m_bStream = false;
    std::atomic<bool> m_bGone{false};
    std::vector<int> m_grabbed;
    CPollThread m_reader;
};
