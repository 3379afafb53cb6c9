#pragma once

#include "app/platform/WindowImages.h"

#include <cmath>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace zorvane::fakes {

// Hands out the image the test prepared and remembers what was asked, from any thread. Captures
// can be held back, to look at the world while one is under way.
class FakeWindowImages : public WindowImages {
public:
    struct Request {
        Rect quartzRect;
        std::optional<WindowNumber> belowWindow;
    };

    std::optional<WindowImage> compositeImage(const Rect& quartzRect, std::optional<WindowNumber> belowWindow) override
    {
        std::unique_lock lock(mutex_);
        requests_.push_back(Request {quartzRect, belowWindow});
        std::optional<WindowImage> image = image_; // the image of the moment asked, handed out when released
        released_.wait(lock, [&] { return !held_; });
        return image;
    }
    // The next images handed out; none: the window server gives no image.
    void setImage(std::optional<WindowImage> image)
    {
        std::lock_guard lock(mutex_);
        image_ = std::move(image);
    }
    void hold(bool held)
    {
        std::lock_guard lock(mutex_);
        held_ = held;
        released_.notify_all();
    }
    std::vector<Request> requests() const
    {
        std::lock_guard lock(mutex_);
        return requests_;
    }

    // The rectangle at `scale` pixels per point, each pixel `pixel(x, y)` as 0xAARRGGBB, every row
    // followed by `padding` unused bytes.
    static WindowImage makeImage(const Rect& rect, double scale, const std::function<std::uint32_t(std::uint32_t, std::uint32_t)>& pixel,
        std::size_t padding = 0)
    {
        const auto width = static_cast<std::uint32_t>(std::lround(rect.width() * scale));
        const auto height = static_cast<std::uint32_t>(std::lround(rect.height() * scale));
        WindowImage image {width, height, width * 4 + padding, scale, std::vector<std::uint8_t>((width * 4 + padding) * height, 0xEE)};
        for (std::uint32_t y = 0; y < height; ++y)
            for (std::uint32_t x = 0; x < width; ++x)
                for (std::uint32_t byte = 0; byte < 4; ++byte) // blue, green, red, unused
                    image.pixels[y * image.stride + x * 4 + byte] = static_cast<std::uint8_t>(pixel(x, y) >> (8 * byte));
        return image;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable released_;
    std::optional<WindowImage> image_;
    std::vector<Request> requests_;
    bool held_ = false;
};

} // namespace zorvane::fakes
