#pragma once

#include "app/platform/WindowImages.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace zorvane::fakes {

// Hands out the image the test prepared and remembers what was asked. Thread-safe, as the
// capture runs off the main thread.
class FakeWindowImages : public WindowImages {
public:
    struct Request {
        Rect quartzRect;
        std::optional<WindowNumber> belowWindow;
    };

    std::optional<WindowImage> compositeImage(const Rect& quartzRect, std::optional<WindowNumber> belowWindow) override;

    // The next images handed out; none means the window server gives no image.
    void setImage(std::optional<WindowImage> image);
    std::vector<Request> requests() const;

    // An image of the rectangle at `scale` pixels per point, every pixel made by `pixel(x, y)`
    // as 0xXXRRGGBB, with `padding` unused bytes at the end of every row.
    static WindowImage makeImage(const Rect& quartzRect, double scale, const std::function<std::uint32_t(std::uint32_t, std::uint32_t)>& pixel,
        std::size_t padding = 0);

private:
    mutable std::mutex mutex_;
    std::optional<WindowImage> image_;
    std::vector<Request> requests_;
};

} // namespace zorvane::fakes
