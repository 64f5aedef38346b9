// The uhid board's requests and its handling of the kernel's events (no
// kernel needed), and the simulated ZIW board's report descriptor as the
// driver's descriptor walker reads it.
#include "DeviceHid.h"
#include "HidDescriptor.h"
#include "UhidBoard.h"
#include "ZiwReportEncoder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace {

uhid_event Event(__u32 type)
{
    uhid_event e;
    memset(&e, 0, sizeof e);
    e.type = type;
    return e;
}

TEST(UhidBoard, CreateRequestCarriesTheIdentity)
{
    UhidIdentity id;
    id.name = std::string(200, 'n');
    id.vendor = 0x1477;
    id.product = 0x1223;
    id.descriptor = {0x06, 0x00, 0xFF, 0xC0};
    uhid_event request;
    std::string error;
    ASSERT_TRUE(UhidCreateRequest(id, request, error)) << error;
    EXPECT_EQ(request.type, static_cast<__u32>(UHID_CREATE2));
    EXPECT_EQ(request.u.create2.vendor, 0x1477u);
    EXPECT_EQ(request.u.create2.product, 0x1223u);
    EXPECT_EQ(request.u.create2.bus, 0x03);
    EXPECT_EQ(request.u.create2.rd_size, 4);
    EXPECT_EQ(memcmp(request.u.create2.rd_data, id.descriptor.data(), 4), 0);
    // A long name is cut and stays terminated.
    EXPECT_EQ(strlen(reinterpret_cast<const char*>(request.u.create2.name)), sizeof request.u.create2.name - 1);

    for (size_t size : {size_t{0}, size_t{HID_MAX_DESCRIPTOR_SIZE + 1}}) {
        id.descriptor.assign(size, 0);
        EXPECT_FALSE(UhidCreateRequest(id, request, error)) << size;
        EXPECT_FALSE(error.empty());
    }
}

TEST(UhidBoard, InputRequestTakesOneWholeReport)
{
    uhid_event request;
    const SimBytes report = CZiwReportEncoder().Encode(SimFrame());
    ASSERT_TRUE(UhidInputRequest(report, request));
    EXPECT_EQ(request.type, static_cast<__u32>(UHID_INPUT2));
    EXPECT_EQ(request.u.input2.size, 64);
    EXPECT_EQ(SimBytes(request.u.input2.data, request.u.input2.data + 64), report);
    EXPECT_FALSE(UhidInputRequest(SimBytes(), request));
    EXPECT_FALSE(UhidInputRequest(SimBytes(UHID_DATA_MAX + 1, 0), request));
}

TEST(UhidBoard, KernelEventsChangeTheState)
{
    UhidState state;
    uhid_event reply;

    uhid_event start = Event(UHID_START);
    start.u.start.dev_flags = UHID_DEV_NUMBERED_INPUT_REPORTS;
    EXPECT_FALSE(UhidApply(start, state, reply));
    EXPECT_TRUE(state.started);
    EXPECT_EQ(state.startFlags, static_cast<std::uint64_t>(UHID_DEV_NUMBERED_INPUT_REPORTS));

    EXPECT_FALSE(UhidApply(Event(UHID_OPEN), state, reply));
    EXPECT_TRUE(state.open);
    EXPECT_FALSE(UhidApply(Event(UHID_CLOSE), state, reply));
    EXPECT_FALSE(UhidApply(Event(UHID_OPEN), state, reply));
    EXPECT_TRUE(state.open);
    EXPECT_EQ(state.opens, 2);
    EXPECT_EQ(state.closes, 1);

    uhid_event out = Event(UHID_OUTPUT);
    out.u.output.size = 3;
    out.u.output.rtype = UHID_OUTPUT_REPORT;
    out.u.output.data[0] = 2;
    out.u.output.data[1] = 1;
    EXPECT_FALSE(UhidApply(out, state, reply));
    out.u.output.size = UHID_DATA_MAX + 100; // never past the buffer
    EXPECT_FALSE(UhidApply(out, state, reply));
    ASSERT_EQ(state.outputs.size(), 2u);
    EXPECT_EQ(state.outputs[0].bytes, SimBytes({2, 1, 0}));
    EXPECT_EQ(state.outputs[0].reportType, UHID_OUTPUT_REPORT);
    EXPECT_EQ(state.outputs[1].bytes.size(), static_cast<size_t>(UHID_DATA_MAX));

    EXPECT_FALSE(UhidApply(Event(UHID_STOP), state, reply));
    EXPECT_FALSE(state.started);
}

TEST(UhidBoard, ReportRequestsAreRefusedWithTheirId)
{
    UhidState state;
    uhid_event reply;
    uhid_event get = Event(UHID_GET_REPORT);
    get.u.get_report.id = 41;
    ASSERT_TRUE(UhidApply(get, state, reply));
    EXPECT_EQ(reply.type, static_cast<__u32>(UHID_GET_REPORT_REPLY));
    EXPECT_EQ(reply.u.get_report_reply.id, 41u);
    EXPECT_EQ(reply.u.get_report_reply.err, EIO);

    uhid_event set = Event(UHID_SET_REPORT);
    set.u.set_report.id = 42;
    ASSERT_TRUE(UhidApply(set, state, reply));
    EXPECT_EQ(reply.type, static_cast<__u32>(UHID_SET_REPORT_REPLY));
    EXPECT_EQ(reply.u.set_report_reply.id, 42u);
    EXPECT_EQ(reply.u.set_report_reply.err, EIO);
    EXPECT_EQ(state.refusedRequests, 2);
}

// The driver serves a ZIW interface only when it declares an output report.
TEST(UhidBoard, ZiwDescriptorDeclaresOneInputAndOneOutputReport)
{
    const SimBytes d = CZiwReportEncoder::HidReportDescriptor();
    const HidDescriptorSummary s = WalkHidDescriptor(d.data(), d.size());
    EXPECT_FALSE(s.malformed);
    EXPECT_EQ(s.inputs, 1);
    EXPECT_EQ(s.outputs, 1);
    EXPECT_EQ(s.features, 0);
    EXPECT_EQ(SelectHidInterface(16, {s}), 0);
    EXPECT_EQ(CZiwReportEncoder::ConnectCommand()[0], CZiwReportEncoder::kOutputReportId);
}

} // namespace
