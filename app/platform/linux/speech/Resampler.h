#pragma once

#include <cstddef>
#include <vector>

namespace zorvane::linux_platform {

// Streaming band-limited resampler (windowed sinc) for one channel: turns the microphone's rate
// into the rate a recogniser's model was trained on. Output is delayed by nothing: the first
// output sample corresponds to the first input sample.
class Resampler {
public:
    Resampler(double inputRate, double outputRate);
    // Appends the resampled counterpart of `count` input samples to `output`.
    void process(const float* input, std::size_t count, std::vector<float>& output);

private:
    double step_;      // input samples per output sample
    double cutoff_;    // pass band as a fraction of the input's Nyquist frequency
    int halfWidth_;    // kernel half-width in input samples
    double position_;  // time of the next output sample, in input samples from history_'s start
    std::vector<float> history_;
    std::vector<double> kernel_; // h(d) for d = 0, 1/kernelResolution, ... halfWidth_
};

} // namespace zorvane::linux_platform
