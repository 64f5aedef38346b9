// The engine called from two threads, as the work thread and the main
// thread's time-outs do. The recording engine and link take no locks, so any
// call that the engine fails to serialise shows up as a broken sequence here
// and as a data race under the thread sanitizer.
#include "RecordingMouseCtrl.h"

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

using ptrtest::CRecordingLink;
using ptrtest::CRecordingMouseCtrl;
using Ops = std::vector<std::string>;

void SpinUntil(const std::atomic<bool>& flag)
{
    while (!flag.load())
        std::this_thread::yield();
}

// A re-press from the main thread lands between two reports of the drag,
// never inside one, and its up and down stay together.
TEST(EngineThreads, RepressFromAnotherThreadStaysWhole)
{
    constexpr int N = 20000;
    CRecordingMouseCtrl engine;
    engine.Configure({0, 0, 1.0f, 0.0f});
    engine.MouseAction(wxPoint(0, 0), MOUSE_ACTION_DOWN);
    engine.Take();

    std::atomic<bool> started{false};
    std::thread work([&] {
        started = true;
        for (int i = 1; i <= N; ++i)
            engine.MouseAction(wxPoint(i % 1000, i % 700), MOUSE_ACTION_DOWN);
    });
    SpinUntil(started);
    for (int i = 0; i < N; ++i)
        engine.MouseAction(wxPoint(0, 0), MOUSE_ACTION_REPRESS);
    work.join();

    const Ops ops = engine.Take();
    int moves = 0;
    int represses = 0;
    for (size_t i = 0; i < ops.size(); ++i) {
        if (ops[i] == "lup") {
            ASSERT_LT(i + 1, ops.size());
            ASSERT_EQ(ops[i + 1], "ldown") << "at " << i;
            ++represses;
            ++i;
        } else if (ops[i].rfind("move ", 0) == 0) {
            ++moves;
        } else {
            FAIL() << "unexpected " << ops[i] << " at " << i;
        }
    }
    EXPECT_EQ(moves, N);
    EXPECT_EQ(represses, N);
}

// Once SetDualLink has returned, the link it replaced gets no more records,
// so its owner may delete it.
TEST(EngineThreads, ReplacedLinkIsNoLongerUsed)
{
    CRecordingMouseCtrl engine;
    engine.Configure({0, 5, 1.0f, 0.0f});
    CRecordingLink first;
    CRecordingLink second;
    engine.SetDualLink(&first);

    std::atomic<bool> stop{false};
    std::thread work([&] {
        for (int i = 0; !stop.load(); ++i) {
            engine.DualMouseAction(wxPoint(100 + i % 800, 100), MOUSE_ACTION_DOWN);
            if (i % 100 == 99)
                engine.DualMouseAction(wxPoint(100, 100), MOUSE_ACTION_UP);
        }
    });
    while (first.count.load() < 200)
        std::this_thread::yield();
    engine.SetDualLink(&second);
    const int firstTotal = first.count.load();
    while (second.count.load() < 200)
        std::this_thread::yield();
    engine.SetDualLink(nullptr);
    const int secondTotal = second.count.load();
    stop = true;
    work.join();

    EXPECT_EQ(first.count.load(), firstTotal);
    EXPECT_EQ(second.count.load(), secondTotal);
    EXPECT_EQ(static_cast<int>(first.records.size()), firstTotal);
    EXPECT_EQ(static_cast<int>(second.records.size()), secondTotal);
}

// Two engines on two threads share the process-wide two-stage filter. What
// each one gets out of it depends on the interleaving, but every contact
// still posts its press, one move per report (inside the span of all the
// inputs) and its release; the races themselves are the thread sanitizer's to
// find.
TEST(EngineThreads, TwoEnginesShareTheTwoStageFilter)
{
    constexpr int CONTACTS = 50;
    constexpr int REPORTS = 200;
    CRecordingMouseCtrl::mouseProc(-1, -1);
    CRecordingMouseCtrl a;
    CRecordingMouseCtrl b;
    a.Configure({100, 0, 1.0f, 0.0f});
    b.Configure({100, 0, 1.0f, 0.0f});

    std::atomic<bool> go{false};
    auto drive = [&go](CRecordingMouseCtrl& engine, int base) {
        SpinUntil(go);
        for (int c = 0; c < CONTACTS; ++c) {
            engine.MouseAction3(wxPoint(base, base), MOUSE_ACTION_DOWN);
            for (int r = 0; r < REPORTS; ++r)
                engine.MouseAction3(wxPoint(base + r % 100, base + r % 50), MOUSE_ACTION_DOWN);
            engine.MouseAction3(wxPoint(base, base), MOUSE_ACTION_UP);
        }
    };
    std::thread ta(drive, std::ref(a), 100);
    std::thread tb(drive, std::ref(b), 1000);
    go = true;
    ta.join();
    tb.join();

    for (CRecordingMouseCtrl* engine : {&a, &b}) {
        int moves = 0;
        int downs = 0;
        int ups = 0;
        for (const std::string& op : engine->Take()) {
            if (op == "ldown") {
                ++downs;
            } else if (op == "lup") {
                ++ups;
            } else {
                int x = -1;
                int y = -1;
                ASSERT_EQ(sscanf(op.c_str(), "move %d,%d", &x, &y), 2) << op;
                EXPECT_TRUE(x >= 100 && x <= 1099 && y >= 100 && y <= 1049) << op;
                ++moves;
            }
        }
        EXPECT_EQ(downs, CONTACTS);
        EXPECT_EQ(ups, CONTACTS);
        EXPECT_EQ(moves, CONTACTS * (REPORTS + 1));
    }
    CRecordingMouseCtrl::mouseProc(-1, -1);
}

} // namespace
