#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <thread>
#include <vector>

namespace zorvane::benchmarks {

using Steady = std::chrono::steady_clock;

struct Pixel {
    int x;
    int y;
};

// Watches root-window pixels from a connection of its own: what a person would see change.
class PixelWatch {
public:
    explicit PixelWatch(std::vector<Pixel> pixels) : display_(XOpenDisplay(nullptr)), pixels_(std::move(pixels))
    {
        for (const Pixel& p : pixels_) baseline_.push_back(read(p));
    }
    ~PixelWatch() { XCloseDisplay(display_); }
    PixelWatch(const PixelWatch&) = delete;
    PixelWatch& operator=(const PixelWatch&) = delete;

    // Seconds from `start` until every pixel differs from its baseline (changed = true) or shows
    // it again (changed = false); negative when that does not happen within the timeout.
    double waitFor(bool changed, Steady::time_point start, double timeoutSeconds = 10)
    {
        const auto deadline = start + std::chrono::duration_cast<Steady::duration>(std::chrono::duration<double>(timeoutSeconds));
        while (Steady::now() < deadline) {
            bool all = true;
            for (std::size_t i = 0; i < pixels_.size() && all; ++i) all = (read(pixels_[i]) != baseline_[i]) == changed;
            if (all) return std::chrono::duration<double>(Steady::now() - start).count();
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        return -1;
    }

private:
    unsigned long read(const Pixel& p)
    {
        XImage* image = XGetImage(display_, DefaultRootWindow(display_), p.x, p.y, 1, 1, AllPlanes, ZPixmap);
        if (!image) return 0;
        const unsigned long value = XGetPixel(image, 0, 0) & 0xffffff;
        XDestroyImage(image);
        return value;
    }

    Display* display_;
    std::vector<Pixel> pixels_;
    std::vector<unsigned long> baseline_;
};

} // namespace zorvane::benchmarks
