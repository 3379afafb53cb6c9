#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// PNG encoding of screen images, in memory. Tuned for speed over size: screen captures are
// encoded while the user waits, and sent on at once.
namespace zorvane::PNGEncoder {

// Encodes `height` rows of `width` 4-byte pixels (blue, green, red, unused), `stride` bytes
// apart, as an 8-bit RGB PNG. None when the image is malformed (no pixels, stride shorter than
// a row, buffer shorter than the rows) or the encoder fails.
std::optional<std::vector<std::uint8_t>> encodeBGRX(
    const std::uint8_t* pixels, std::size_t byteCount, std::uint32_t width, std::uint32_t height, std::size_t stride);

} // namespace zorvane::PNGEncoder
