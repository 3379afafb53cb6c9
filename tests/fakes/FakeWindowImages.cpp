#include "fakes/FakeWindowImages.h"

#include <cmath>

namespace zorvane::fakes {

std::optional<WindowImage> FakeWindowImages::compositeImage(const Rect& quartzRect, std::optional<WindowNumber> belowWindow)
{
    std::lock_guard lock(mutex_);
    requests_.push_back(Request {quartzRect, belowWindow});
    return image_;
}

void FakeWindowImages::setImage(std::optional<WindowImage> image)
{
    std::lock_guard lock(mutex_);
    image_ = std::move(image);
}

std::vector<FakeWindowImages::Request> FakeWindowImages::requests() const
{
    std::lock_guard lock(mutex_);
    return requests_;
}

WindowImage FakeWindowImages::makeImage(
    const Rect& quartzRect, double scale, const std::function<std::uint32_t(std::uint32_t, std::uint32_t)>& pixel, std::size_t padding)
{
    WindowImage image;
    image.width = static_cast<std::uint32_t>(std::lround(quartzRect.width() * scale));
    image.height = static_cast<std::uint32_t>(std::lround(quartzRect.height() * scale));
    image.stride = static_cast<std::size_t>(image.width) * 4 + padding;
    image.scale = scale;
    image.pixels.assign(image.stride * image.height, 0xEE);
    for (std::uint32_t y = 0; y < image.height; ++y) {
        std::uint8_t* row = image.pixels.data() + y * image.stride;
        for (std::uint32_t x = 0; x < image.width; ++x) {
            const std::uint32_t value = pixel(x, y);
            row[x * 4 + 0] = static_cast<std::uint8_t>(value);       // blue
            row[x * 4 + 1] = static_cast<std::uint8_t>(value >> 8);  // green
            row[x * 4 + 2] = static_cast<std::uint8_t>(value >> 16); // red
            row[x * 4 + 3] = static_cast<std::uint8_t>(value >> 24);
        }
    }
    return image;
}

} // namespace zorvane::fakes
