// The shake detector runs for every pointer movement of the desktop. These figures are per call,
// with the 0.65-second window full of movement from a 1000 Hz mouse (650 samples).
#include "app/gesture/MotionGestureDetector.h"
#include "app/gesture/MotionGestureMonitor.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <functional>
#include <memory>
#include <numbers>

using namespace zorvane;

namespace {

constexpr double sampleInterval = 0.001;

// A 120-point side-to-side wobble at 3 Hz: reversals, strokes and extent enough for the detector
// to do all of its work, but never fast enough to be a shake (which would empty the window).
Point wobble(double t)
{
    return Point {400 + 60 * std::sin(2 * std::numbers::pi * 3 * t), 500 + 5 * std::cos(2 * std::numbers::pi * t)};
}

void BM_RecordWithFullWindow(benchmark::State& state)
{
    MotionGestureDetector detector;
    detector.threshold = 2200;
    double t = 0;
    for (int i = 0; i < 650; ++i, t += sampleInterval) detector.record(wobble(t), t);
    for (auto _ : state) {
        const bool shake = detector.record(wobble(t), t);
        benchmark::DoNotOptimize(shake);
        t += sampleInterval;
        if (shake) {
            state.SkipWithError("the wobble was taken for a shake");
            break;
        }
    }
    state.counters["samples"] = static_cast<double>(detector.samples().size());
}
BENCHMARK(BM_RecordWithFullWindow)->Repetitions(15)->ReportAggregatesOnly(true)->Unit(benchmark::kNanosecond);

// Minimal ports, so that the whole path of one movement is measured: the two settings lookups
// and the detector.
class BenchEventMonitors : public EventMonitors {
public:
    std::function<void(const PointerMovement&)> handler;
    double t = 0;
    void move() { handler(PointerMovement {wobble(t), t}); }
    MonitorToken addGlobalPointerMovedMonitor(std::function<void(const PointerMovement&)> h) override
    {
        handler = std::move(h);
        return 1;
    }
    MonitorToken addLocalPointerMovedMonitor(std::function<void(const PointerMovement&)>) override { return 2; }
    MonitorToken addGlobalKeyDownMonitor(std::function<void(const KeyEvent&)>) override { return 3; }
    MonitorToken addLocalKeyDownMonitor(std::function<bool(const KeyEvent&)>) override { return 4; }
    void removeMonitor(MonitorToken) override {}
    Point currentPointerLocation() override { return wobble(t); }
};

class DiscardingQueue : public MainQueue {
public:
    void post(std::function<void()>) override {}
    void postAfter(double, std::function<void()>) override {}
};

class EmptyStore : public PreferencesStore {
public:
    PreferenceDomain load() override { return {}; }
    void save(const PreferenceDomain&) override {}
};

void BM_HandleMotionWithFullWindow(benchmark::State& state)
{
    auto events = std::make_shared<BenchEventMonitors>();
    auto defaults = std::make_shared<UserDefaults>(std::make_shared<EmptyStore>());
    defaults->registerDefaults({{"activationEnabled", true}, {"motionThreshold", 2200.0}});
    auto monitor = MotionGestureMonitor::create(events, defaults, std::make_shared<DiscardingQueue>());
    monitor->start();
    for (int i = 0; i < 650; ++i, events->t += sampleInterval) events->move();
    for (auto _ : state) {
        events->move();
        events->t += sampleInterval;
    }
    state.counters["samples"] = static_cast<double>(monitor->detector().samples().size());
}
BENCHMARK(BM_HandleMotionWithFullWindow)->Repetitions(15)->ReportAggregatesOnly(true)->Unit(benchmark::kNanosecond);

} // namespace

BENCHMARK_MAIN();
