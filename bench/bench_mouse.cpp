// Cost of one report of a drag in the pointer action engine, with pointer
// operations that do nothing: the filters, the still test, the hold rule and
// the engine's lock, without any event injection. One contact is pressed
// before timing; every timed call is a later report of it. The path is a
// figure of eight over a 1920 x 1080 screen, far enough from the press point
// that no report counts as still.
#include "MouseCtrl.h"

#include <cmath>
#include <cstddef>
#include <vector>

#include <benchmark/benchmark.h>

namespace {

constexpr double TWO_PI = 6.283185307179586;

class CNullMouseCtrl : public CMouseCtrlBase
{
public:
    CNullMouseCtrl()
        : CMouseCtrlBase(wxT("SkribWorkZIW"))
    {
        // The shipped settings.
        m_limitCount = 100;
        m_limitMove = 8;
        m_rc1 = 0.75f;
        m_rc2 = 0.25f;
    }

protected:
    void LButtonDown() override {}
    void RButton() override {}
    void LButtonUp() override {}
    void RButtonUp() override {}
    void LButtonDoubleClick() override {}
    void MouseMove(int x, int y) override
    {
        benchmark::DoNotOptimize(x);
        benchmark::DoNotOptimize(y);
    }
    void Pause(unsigned int) override {}
};

std::vector<wxPoint> Path()
{
    std::vector<wxPoint> points;
    const int n = 4096;
    for (int i = 0; i < n; ++i) {
        const double t = TWO_PI * i / n;
        points.emplace_back(static_cast<int>(960 + 800 * std::sin(t)),
                            static_cast<int>(540 + 450 * std::sin(2 * t)));
    }
    return points;
}

using Entry = void (CMouseCtrlBase::*)(wxPoint, int);

void Drag(benchmark::State& state, Entry entry)
{
    CNullMouseCtrl engine;
    const std::vector<wxPoint> points = Path();
    (engine.*entry)(wxPoint(0, 0), MOUSE_ACTION_DOWN);
    std::size_t i = 0;
    for (auto _ : state) {
        (engine.*entry)(points[i], MOUSE_ACTION_DOWN);
        if (++i == points.size())
            i = 0;
    }
    (engine.*entry)(wxPoint(0, 0), MOUSE_ACTION_UP);
    state.SetItemsProcessed(state.iterations());
}

void BM_MouseActionDrag(benchmark::State& state)
{
    Drag(state, &CMouseCtrlBase::MouseAction);
}

void BM_MouseAction3Drag(benchmark::State& state)
{
    Drag(state, &CMouseCtrlBase::MouseAction3);
}

void BM_VUMouseActionDrag(benchmark::State& state)
{
    Drag(state, &CMouseCtrlBase::VUMouseAction);
}

} // namespace

BENCHMARK(BM_MouseActionDrag);
BENCHMARK(BM_MouseAction3Drag);
BENCHMARK(BM_VUMouseActionDrag);

BENCHMARK_MAIN();
