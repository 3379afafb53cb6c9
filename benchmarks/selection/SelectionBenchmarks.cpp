// PNG encoding of full-screen captures, and element lookups under the pointer.
#include "app/selection/AccessibilitySelectionService.h"
#include "app/selection/PNGEncoder.h"
#include "fakes/FakeAccessibilityTree.h"
#include "fakes/FakeSystem.h"
#include "fakes/FakeWindowSystem.h"
#include "fakes/VirtualTime.h"

#include <benchmark/benchmark.h>

#include <algorithm>

#include <cmath>
#include <random>

namespace {

using namespace zorvane;

constexpr std::uint32_t width = 2560;
constexpr std::uint32_t height = 1440;
constexpr std::size_t stride = width * 4;

struct Frame {
    std::vector<std::uint8_t> pixels = std::vector<std::uint8_t>(stride * height);
    void set(std::uint32_t x, std::uint32_t y, std::uint32_t rgb)
    {
        std::uint8_t* p = &pixels[y * stride + x * 4];
        p[0] = rgb & 0xFF;
        p[1] = (rgb >> 8) & 0xFF;
        p[2] = (rgb >> 16) & 0xFF;
        p[3] = 0xFF;
    }
    void fill(std::uint32_t x0, std::uint32_t y0, std::uint32_t w, std::uint32_t h, std::uint32_t rgb)
    {
        for (std::uint32_t y = y0; y < std::min(y0 + h, height); ++y)
            for (std::uint32_t x = x0; x < std::min(x0 + w, width); ++x) set(x, y, rgb);
    }
};

// A desktop: flat background, two windows with title bars, a sidebar, buttons, a toolbar,
// ragged lines of text set from a 64-glyph alphabet (dark strokes with grey edges) filling both
// windows, and one photo-like gradient.
Frame uiFrame()
{
    Frame frame;
    std::mt19937 random(7);
    std::uint32_t alphabet[64];
    for (auto& glyph : alphabet) glyph = random();
    frame.fill(0, 0, width, height, 0x3A6EA5);
    frame.fill(0, 0, width, 28, 0xECECEC);
    const struct { std::uint32_t x, y, w, h; } windows[] = {{120, 90, 1500, 1100}, {1400, 300, 1050, 900}};
    for (const auto& w : windows) {
        frame.fill(w.x - 1, w.y - 1, w.w + 2, w.h + 2, 0xB0B0B0);
        frame.fill(w.x, w.y, w.w, w.h, 0xFFFFFF);
        frame.fill(w.x, w.y, w.w, 52, 0xF3F3F3);
        frame.fill(w.x, w.y + 52, 260, w.h - 52, 0xF7F7F9);
        for (std::uint32_t b = 0; b < 5; ++b) frame.fill(w.x + 300 + b * 110, w.y + 12, 96, 28, b == 0 ? 0x0A64D8 : 0xE4E4E4);
        // Text: glyphs of 7 × 11 pixels in words, lines 22 pixels apart.
        for (std::uint32_t line = w.y + 80; line + 11 < w.y + w.h - 20; line += 22) {
            if (random() % 6 == 0) continue; // paragraph break
            const std::uint32_t end = w.x + w.w - 40 - random() % 400;
            std::uint32_t x = w.x + 290;
            while (x + 8 < end) {
                const int letters = 2 + static_cast<int>(random() % 9);
                for (int l = 0; l < letters && x + 8 < end; ++l, x += 8) {
                    const std::uint32_t glyph = alphabet[random() % 64];
                    for (std::uint32_t gy = 0; gy < 11; ++gy)
                        for (std::uint32_t gx = 0; gx < 7; ++gx) {
                            const bool ink = (glyph >> ((gy * 7 + gx) % 31)) & 1;
                            if (ink && (gx == 0 || gx == 6 || gy % 5 == 0)) frame.set(x + gx, line + gy, 0x1D1D1F);
                            else if (ink) frame.set(x + gx, line + gy, 0x8E8E93);
                        }
                }
                x += 8;
            }
        }
    }
    for (std::uint32_t y = 0; y < 300; ++y)
        for (std::uint32_t x = 0; x < 400; ++x)
            frame.set(1700 + x, 400 + y, (x * 255 / 400) << 16 | (y * 255 / 300) << 8 | 0x60);
    return frame;
}

// Photographic noise over a gradient: close to the worst a screen can give the encoder.
Frame noisyFrame()
{
    Frame frame;
    std::mt19937 random(11);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) {
            const auto channel = [&](double base) {
                return static_cast<std::uint32_t>(std::clamp(base + static_cast<int>(random() % 64) - 32, 0.0, 255.0));
            };
            const double wave = 127 + 100 * std::sin(x * 0.01 + y * 0.02);
            frame.set(x, y, channel(x * 255.0 / width) << 16 | channel(y * 255.0 / height) << 8 | channel(wave));
        }
    return frame;
}

void encode(benchmark::State& state, const Frame& frame)
{
    std::size_t bytes = 0;
    for (auto _ : state) {
        auto png = PNGEncoder::encodeBGRX(frame.pixels.data(), frame.pixels.size(), width, height, stride);
        bytes = png ? png->size() : 0;
        benchmark::DoNotOptimize(png);
    }
    state.counters["png_bytes"] = static_cast<double>(bytes);
}

void BM_EncodePNG_UILike_2560x1440(benchmark::State& state)
{
    static const Frame frame = uiFrame();
    encode(state, frame);
}
BENCHMARK(BM_EncodePNG_UILike_2560x1440)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_EncodePNG_Noisy_2560x1440(benchmark::State& state)
{
    static const Frame frame = noisyFrame();
    encode(state, frame);
}
BENCHMARK(BM_EncodePNG_Noisy_2560x1440)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The element lookup under the pointer, over three trees: a 20-row list, a 1,000-row list, and
// overlapping full-size layers (48 levels of 12 layers under the pointer, every layer of a level
// listing all 12 of the next, each also holding 12 blocks of 24 lines of text beside the pointer,
// and 9000 characters of value at the bottom: every count bound of the lookup is reached).
// Reported per lookup: the calls into the accessibility tree (each a round trip to another
// application on a real desktop), the time with calls that cost nothing, and the calls made when
// each costs 0.2 ms of (virtual) time, as one bus call does.
struct LookupFixture {
    static constexpr ProcessID pid = 200;
    std::shared_ptr<fakes::FakePermissions> permissions = std::make_shared<fakes::FakePermissions>();
    std::shared_ptr<fakes::FakeWindowList> windows = std::make_shared<fakes::FakeWindowList>();
    std::shared_ptr<fakes::FakeAccessibilityTree> tree = std::make_shared<fakes::FakeAccessibilityTree>();
    std::shared_ptr<fakes::FakeScreens> screens = std::make_shared<fakes::FakeScreens>();
    std::shared_ptr<fakes::FakeClock> clock = std::make_shared<fakes::FakeClock>();
    AccessibilitySelectionService service {permissions, windows, tree, screens, clock, 1};
    Point pointer;
    fakes::FakeAccessibilityTree::NodeID window = 0;

    LookupFixture()
    {
        permissions->accessibility = true;
        screens->addScreen(Rect(0, 0, 2560, 1440));
        // Other windows in front of and behind the one under the pointer, as on a working desktop.
        for (int i = 0; i < 6; ++i) windows->addWindow(300 + i, Rect(1800, 900 + i * 10, 600, 400));
        windows->addWindow(pid, Rect(0, 0, 2560, 1440));
        for (int i = 0; i < 20; ++i) windows->addWindow(400 + i, Rect(i * 20, i * 20, 800, 600));
        const auto app = tree->addApplication(pid, "Archivos");
        window = tree->addElement(app, "AXWindow", Rect(0, 0, 2560, 1440), {{"AXTitle", std::string("Documentos")}});
        tree->setHit(pid, window);
    }
};

// A list of `rows` rows of 24 points, three text cells each, inside a scroll area; the pointer
// on the tenth row.
struct ListTree : LookupFixture {
    explicit ListTree(int rows)
    {
        const auto scroll = tree->addElement(window, "AXScrollArea", Rect(200, 60, 1800, 1300));
        const auto list = tree->addElement(scroll, "AXList", Rect(200, 60, 1800, 24.0 * rows));
        for (int r = 0; r < rows; ++r) {
            const auto row = tree->addElement(list, "AXRow", Rect(200, 60 + 24.0 * r, 1800, 24));
            const char* cells[] = {"informe-trimestral.pdf", "2,4 MB", "hace 3 días"};
            for (int c = 0; c < 3; ++c)
                tree->addElement(row, "AXStaticText", Rect(200 + 600.0 * c, 60 + 24.0 * r, 600, 24), {{"AXValue", std::string(cells[c])}});
        }
        pointer = {500, 60 + 24 * 9.5};
    }
};

struct LayeredTree : LookupFixture {
    LayeredTree()
    {
        const std::string line(100, 'x');
        const std::string bottomValue(9000, 'y');
        std::vector<fakes::FakeAccessibilityTree::NodeID> previous {window};
        for (int level = 0; level < 48; ++level) {
            std::vector<fakes::FakeAccessibilityTree::NodeID> layers;
            std::vector<AccessibilityElement> listed;
            for (int i = 0; i < 12; ++i) {
                const double side = 1200.0 - level * 20 - i;
                layers.push_back(tree->addElement(previous.front(), level % 2 ? "AXGroup" : "AXLink", Rect(100, 100, side, side)));
                if (level == 47) tree->setAttribute(layers.back(), "AXValue", bottomValue);
                listed.push_back(tree->element(layers.back()));
            }
            for (int b = 0; b < 12; ++b) {
                const auto block = tree->addElement(previous.front(), "AXGroup", Rect(1500, 100 + b * 50, 400, 40));
                for (int t = 0; t < 24; ++t) tree->addElement(block, {{"AXValue", line}});
                listed.push_back(tree->element(block));
            }
            for (const auto parent : previous) tree->setAttribute(parent, "AXChildren", listed);
            previous = layers;
        }
        pointer = {150, 150};
    }
};

void lookUp(benchmark::State& state, LookupFixture& fixture)
{
    fixture.tree->chargeCallsTo(nullptr, 0);
    std::size_t calls = 0;
    bool found = false;
    for (auto _ : state) {
        const std::size_t before = fixture.tree->callCount();
        auto context = fixture.service.context(fixture.pointer);
        calls = fixture.tree->callCount() - before;
        found = context.has_value();
        benchmark::DoNotOptimize(context);
    }
    state.counters["calls"] = static_cast<double>(calls);
    state.counters["found"] = found;

    // The same lookup when every call costs what one accessibility bus call does.
    constexpr double secondsPerCall = 0.0002;
    fixture.tree->chargeCallsTo(fixture.clock, secondsPerCall);
    const std::size_t before = fixture.tree->callCount();
    const double started = fixture.clock->uptime();
    const auto context = fixture.service.context(fixture.pointer);
    state.counters["calls_at_0.2ms"] = static_cast<double>(fixture.tree->callCount() - before);
    state.counters["ms_at_0.2ms"] = (fixture.clock->uptime() - started) * 1000;
    state.counters["found_at_0.2ms"] = context.has_value();
    fixture.tree->chargeCallsTo(nullptr, 0);
}

void BM_Lookup_List20(benchmark::State& state)
{
    static ListTree fixture(20);
    lookUp(state, fixture);
}
BENCHMARK(BM_Lookup_List20)->Unit(benchmark::kMicrosecond);

void BM_Lookup_List1000(benchmark::State& state)
{
    static ListTree fixture(1000);
    lookUp(state, fixture);
}
BENCHMARK(BM_Lookup_List1000)->Unit(benchmark::kMicrosecond);

void BM_Lookup_OverlappingLayers(benchmark::State& state)
{
    static LayeredTree fixture;
    lookUp(state, fixture);
}
BENCHMARK(BM_Lookup_OverlappingLayers)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
