#pragma once

#include "support/AudioSession.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace brindell::testing {

// Measures what reaches a sink: pw-record on the sink's monitor (stream.capture.sink), 48 kHz
// stereo float, cut into 100 ms windows of the left channel with peak, RMS and the amplitude of
// chosen tones (Goertzel; 440 and 660 Hz fall on exact bins of a 100 ms window).
class LevelMeter {
public:
    struct Window {
        double peak = 0;
        double rms = 0;
        std::vector<double> tones; // amplitude per requested frequency
    };

    LevelMeter(AudioSession& session, const std::string& sink, std::vector<double> tones = {});
    ~LevelMeter(); // stops pw-record and the reader

    // Waits for `consecutive` windows in a row that satisfy condition; the last of them, or none
    // at the deadline.
    std::optional<Window> waitFor(const std::function<bool(const Window&)>& condition,
                                  std::chrono::milliseconds timeout, int consecutive = 3);
    // A condition on the requested tones, in their order: each within 0.03 of its expected
    // amplitude, and an expected 0 below 0.01 (silent).
    static std::function<bool(const Window&)> tonesNear(std::vector<double> expected);
    // Convenience: the peak stays within [low, high] for `consecutive` windows.
    bool waitForPeak(double low, double high, std::chrono::milliseconds timeout,
                     int consecutive = 3);
    // The recent windows, for failure messages.
    std::string recent() const;

    // Every sample of the left channel from now until `frames` more arrived (for impulse
    // timing); empty at the deadline.
    std::vector<float> record(std::size_t frames, std::chrono::milliseconds timeout);

private:
    void read();

    const std::vector<double> frequencies_;
    std::unique_ptr<ChildProcess> recorder_;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<Window> windows_; // not yet consumed by waitFor
    std::deque<Window> history_; // the last few, for messages
    std::vector<float>* capture_ = nullptr;
    std::size_t captureFrames_ = 0;
    bool ended_ = false;
};

} // namespace brindell::testing
