#include "support/LevelMeter.h"

#include <cmath>
#include <cstdio>
#include <poll.h>
#include <unistd.h>

namespace brindell::testing {

namespace {

constexpr std::size_t rate = 48000;
constexpr std::size_t windowFrames = rate / 10;

double goertzelAmplitude(const std::vector<float>& samples, double frequency) {
    const double omega = 2.0 * M_PI * frequency / static_cast<double>(rate);
    const double coefficient = 2.0 * std::cos(omega);
    double s1 = 0;
    double s2 = 0;
    for (float sample : samples) {
        const double s0 = static_cast<double>(sample) + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    return 2.0 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(samples.size());
}

} // namespace

LevelMeter::LevelMeter(AudioSession& session, const std::string& sink, std::vector<double> tones)
    : frequencies_(std::move(tones)) {
    recorder_ = session.run({"pw-record", "--target", sink, "-P", "{ stream.capture.sink=true }",
                             "--rate", "48000", "--channels", "2", "--format", "f32", "-"},
                            true);
    reader_ = std::thread([this] { read(); });
}

LevelMeter::~LevelMeter() {
    recorder_->stop();
    if (reader_.joinable()) {
        reader_.join();
    }
}

void LevelMeter::read() {
    const int fd = recorder_->stdoutFd();
    std::vector<float> left;
    left.reserve(windowFrames);
    float frame[2];
    std::size_t filled = 0; // bytes of the current frame
    char buffer[1 << 15];
    while (true) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        for (ssize_t i = 0; i < n; ++i) {
            reinterpret_cast<char*>(frame)[filled++] = buffer[i];
            if (filled < sizeof frame) {
                continue;
            }
            filled = 0;
            left.push_back(frame[0]);
            {
                std::lock_guard lock(mutex_);
                if (capture_ != nullptr && capture_->size() < captureFrames_) {
                    capture_->push_back(frame[0]);
                    if (capture_->size() == captureFrames_) {
                        arrived_.notify_all();
                    }
                }
            }
            if (left.size() < windowFrames) {
                continue;
            }
            Window window;
            double sum = 0;
            for (float sample : left) {
                window.peak = std::max(window.peak, static_cast<double>(std::fabs(sample)));
                sum += static_cast<double>(sample) * static_cast<double>(sample);
            }
            window.rms = std::sqrt(sum / static_cast<double>(left.size()));
            for (double frequency : frequencies_) {
                window.tones.push_back(goertzelAmplitude(left, frequency));
            }
            left.clear();
            std::lock_guard lock(mutex_);
            windows_.push_back(window);
            history_.push_back(window);
            if (history_.size() > 10) {
                history_.pop_front();
            }
            arrived_.notify_all();
        }
    }
    std::lock_guard lock(mutex_);
    ended_ = true;
    arrived_.notify_all();
}

std::optional<LevelMeter::Window>
LevelMeter::waitFor(const std::function<bool(const Window&)>& condition,
                    std::chrono::milliseconds timeout, int consecutive) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(mutex_);
    windows_.clear(); // only what arrives from now on counts
    int run = 0;
    while (true) {
        while (!windows_.empty()) {
            Window window = windows_.front();
            windows_.pop_front();
            run = condition(window) ? run + 1 : 0;
            if (run >= consecutive) {
                return window;
            }
        }
        if (ended_ || arrived_.wait_until(lock, deadline) == std::cv_status::timeout) {
            if (windows_.empty()) {
                return std::nullopt;
            }
        }
    }
}

bool LevelMeter::waitForPeak(double low, double high, std::chrono::milliseconds timeout,
                             int consecutive) {
    return waitFor([&](const Window& w) { return w.peak >= low && w.peak <= high; }, timeout,
                   consecutive)
        .has_value();
}

std::string LevelMeter::recent() const {
    std::lock_guard lock(mutex_);
    std::string text = "recent windows (peak / rms / tones):";
    for (const Window& w : history_) {
        char line[160];
        std::snprintf(line, sizeof line, "\n  %.4f / %.4f", w.peak, w.rms);
        text += line;
        for (double tone : w.tones) {
            std::snprintf(line, sizeof line, " / %.4f", tone);
            text += line;
        }
    }
    if (ended_) {
        text += "\n  (pw-record ended)";
    }
    return text;
}

std::vector<float> LevelMeter::record(std::size_t frames, std::chrono::milliseconds timeout) {
    std::vector<float> samples;
    samples.reserve(frames);
    std::unique_lock lock(mutex_);
    capture_ = &samples;
    captureFrames_ = frames;
    const bool done =
        arrived_.wait_for(lock, timeout, [&] { return samples.size() >= frames || ended_; });
    capture_ = nullptr;
    if (!done || samples.size() < frames) {
        samples.clear();
    }
    return samples;
}

std::function<bool(const LevelMeter::Window&)> LevelMeter::tonesNear(std::vector<double> expected) {
    return [expected = std::move(expected)](const Window& window) {
        if (window.tones.size() < expected.size()) {
            return false;
        }
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const double value = window.tones[i];
            if (expected[i] == 0 ? value >= 0.01 : std::abs(value - expected[i]) >= 0.03) {
                return false;
            }
        }
        return true;
    };
}

} // namespace brindell::testing
