// A simulated board on the kernel's HID bus, through /dev/uhid: the kernel
// makes a hid device and a hidraw node for it exactly as for a USB board, so
// a driver reads its input reports from hidraw and writes output reports
// back. Input reports go in through Write (a CByteSink, so a
// CTimelineFeeder plays scripts into it); what the kernel hands the board
// (started, opened, closed, output reports) is collected by a reader thread.
//
// The event handling itself (UhidApply) and the request builders do no I/O,
// so they are tested without a kernel that has uhid.
#pragma once

#include "BoardSim.h"
#include "PollThread.h"

#include <linux/uhid.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// What the kernel sees of the board when it is created.
struct UhidIdentity
{
    std::string name;      // at most 127 bytes are kept
    int bus = 0x03;        // BUS_USB
    int vendor = 0;
    int product = 0;
    SimBytes descriptor;   // the report descriptor
};

// One report that the kernel handed the board (from a write on hidraw).
struct UhidOutput
{
    SimBytes bytes;     // as the board receives them, report id included
    int reportType = 0; // UHID_OUTPUT_REPORT, UHID_FEATURE_REPORT
};

// What the board has seen so far.
struct UhidState
{
    bool started = false;   // the kernel bound a HID driver (UHID_START)
    std::uint64_t startFlags = 0;
    bool open = false;      // some reader has the device open (hidraw, input)
    int opens = 0;          // UHID_OPEN events so far
    int closes = 0;         // UHID_CLOSE events so far
    std::vector<UhidOutput> outputs;
    int refusedRequests = 0; // GET_REPORT / SET_REPORT answered with an error
};

// The UHID_CREATE2 request; false with a message when the identity does not fit.
bool UhidCreateRequest(const UhidIdentity& identity, uhid_event& request, std::string& error);
// The UHID_INPUT2 request for one input report; false when it is empty or too long.
bool UhidInputRequest(const SimBytes& report, uhid_event& request);
// Applies one event from the kernel to `state`. True when the kernel waits
// for an answer, which is then in `reply`: this board has no feature
// reports and refuses GET_REPORT and SET_REPORT with EIO.
bool UhidApply(const uhid_event& event, UhidState& state, uhid_event& reply);

class CUhidBoard : public CByteSink
{
public:
    CUhidBoard() = default;
    ~CUhidBoard() override; // unplugs a board that is still there
    CUhidBoard(const CUhidBoard&) = delete;
    CUhidBoard& operator=(const CUhidBoard&) = delete;

    // Plugs the board in (opens /dev/uhid, creates the device, starts the
    // reader). False with a message in `error`.
    bool Create(const UhidIdentity& identity, std::string& error);
    // Unplugs it: the kernel removes the hid device and its hidraw node.
    void Destroy();
    bool Created() const { return m_fd >= 0; }

    // One input report, whole (report id first when the board numbers them).
    bool Write(const SimBytes& report) override;

    UhidState State() const;
    // Waits until `condition` holds for the board's state, at most `timeoutMs`.
    bool WaitFor(const std::function<bool(const UhidState&)>& condition, int timeoutMs) const;

private:
    bool OnReadable(short revents);

    int m_fd = -1;
    CPollThread m_reader;
    // Guards m_state between the reader thread and the callers.
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    UhidState m_state;
    std::mutex m_writeMutex; // one request at a time on the descriptor
};
