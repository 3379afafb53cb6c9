#include "app/platform/linux/speech/Resampler.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zorvane::linux_platform {

namespace {
constexpr int zeroCrossings = 16; // per side; enough for speech, cheap enough for 48 kHz input
constexpr int kernelResolution = 256; // table steps per input sample
}

Resampler::Resampler(double inputRate, double outputRate)
    : step_(inputRate / outputRate)
    , cutoff_(std::min(1.0, outputRate / inputRate) * 0.95)
    , halfWidth_(static_cast<int>(std::ceil(zeroCrossings / cutoff_)))
    , position_(halfWidth_)
    , history_(static_cast<std::size_t>(halfWidth_), 0.0f)
{
    const double pi = std::numbers::pi;
    kernel_.resize(static_cast<std::size_t>(halfWidth_ * kernelResolution + 2));
    for (std::size_t i = 0; i < kernel_.size(); ++i) {
        const double distance = static_cast<double>(i) / kernelResolution;
        const double x = pi * cutoff_ * distance;
        const double sinc = i == 0 ? 1.0 : std::sin(x) / x;
        const double window = distance >= halfWidth_ ? 0.0 : 0.5 * (1 + std::cos(pi * distance / halfWidth_)); // Hann
        kernel_[i] = cutoff_ * sinc * window;
    }
}

void Resampler::process(const float* input, std::size_t count, std::vector<float>& output)
{
    if (step_ == 1.0) {
        output.insert(output.end(), input, input + count);
        return;
    }
    history_.insert(history_.end(), input, input + count);
    while (position_ + halfWidth_ < static_cast<double>(history_.size())) {
        const auto centre = static_cast<long>(std::floor(position_));
        double sum = 0;
        for (long k = centre - halfWidth_ + 1; k <= centre + halfWidth_; ++k) {
            const double at = std::abs(position_ - static_cast<double>(k)) * kernelResolution;
            const auto index = static_cast<std::size_t>(at);
            const double fraction = at - static_cast<double>(index);
            const double weight = kernel_[index] + (kernel_[index + 1] - kernel_[index]) * fraction;
            sum += history_[static_cast<std::size_t>(k)] * weight;
        }
        output.push_back(static_cast<float>(sum));
        position_ += step_;
    }
    // Keep only what later outputs still reach.
    const long consumed = static_cast<long>(std::floor(position_)) - halfWidth_;
    if (consumed > 0) {
        history_.erase(history_.begin(), history_.begin() + consumed);
        position_ -= static_cast<double>(consumed);
    }
}

} // namespace zorvane::linux_platform
