// Cost of one conversion from a device position to a screen pixel, for the
// 2 x 2, 3 x 3 and 5 x 4 calibrations. The calibration is set in memory; the
// positions cycle through a fixed set spread over and beyond the calibrated
// area, so that every cell and the extrapolated border are visited.
#include "Conversion.h"

#include <cstddef>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace {

constexpr double DEVICE_LOW = 1310.72;
constexpr double DEVICE_HIGH = 31457.28;

// A slightly bent grid of `columns` x `rows` targets with straight columns.
void Calibrate(CConversionBase& conv, int columns, int rows)
{
    conv.ReadScreen(1920, 1080);
    conv.m_dotNum = columns * rows;
    for (int c = 0; c < columns; ++c) {
        for (int r = 0; r < rows; ++r) {
            const double u = double(c) / (columns - 1);
            const double v = double(r) / (rows - 1);
            conv.m_dot[c * rows + r] = wxRealPoint(
                DEVICE_LOW + (DEVICE_HIGH - DEVICE_LOW) * u + 900 * u * (1 - u),
                DEVICE_LOW + (DEVICE_HIGH - DEVICE_LOW) * v + 400 * u - 700 * v * (1 - v));
        }
    }
    conv.ReadPosition();
}

std::vector<wxRealPoint> Positions()
{
    std::vector<wxRealPoint> points;
    unsigned seed = 12345u;
    for (int i = 0; i < 4096; ++i) {
        seed = seed * 1103515245u + 12345u;
        const double x = (seed >> 8) % 34000;
        seed = seed * 1103515245u + 12345u;
        const double y = (seed >> 8) % 34000;
        points.emplace_back(x - 600, y - 600);
    }
    return points;
}

void BM_Conversion(benchmark::State& state)
{
    const int dotNum = static_cast<int>(state.range(0));
    int columns = 0;
    int rows = 0;
    CConversionBase::GridSize(dotNum, columns, rows);
    CConversion conv("SkribWorkZIW");
    Calibrate(conv, columns, rows);
    const std::vector<wxRealPoint> points = Positions();

    std::size_t i = 0;
    for (auto _ : state) {
        wxPoint p = conv.Conversion(points[i]);
        benchmark::DoNotOptimize(p);
        if (++i == points.size())
            i = 0;
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(std::to_string(columns) + "x" + std::to_string(rows));
}

} // namespace

BENCHMARK(BM_Conversion)->Arg(4)->Arg(9)->Arg(20);

BENCHMARK_MAIN();
