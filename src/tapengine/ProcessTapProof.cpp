#include "tapengine/ProcessTapProof.h"

#include "tapengine/RenderCallback.h"

#include <cinttypes>
#include <cstdio>
#include <random>

namespace brindell {

namespace {

constexpr auto relaxed = std::memory_order_relaxed;

// "status 0", or the error's code ("status -2"), or its text when it has no code.
std::string statusOf(const AudioHardwareError* error) {
    if (error == nullptr) {
        return "status 0";
    }
    if (error->kind() == AudioHardwareError::Kind::noSuchObject) {
        return "status noSuchObject";
    }
    return "status " + std::to_string(error->code());
}

// A random (version 4) UUID in its 36-character upper-case text form.
std::string freshUUID() {
    std::random_device device;
    std::mt19937_64 generator((static_cast<std::uint64_t>(device()) << 32) ^
                              static_cast<std::uint64_t>(device()));
    std::uint64_t high = generator();
    std::uint64_t low = generator();
    high = (high & ~std::uint64_t{0xF000}) | 0x4000;                        // version 4
    low = (low & ~(std::uint64_t{0xC} << 60)) | (std::uint64_t{0x8} << 60); // variant 10
    char text[37];
    std::snprintf(text, sizeof text,
                  "%08" PRIX64 "-%04" PRIX64 "-%04" PRIX64 "-%04" PRIX64 "-%012" PRIX64, high >> 32,
                  (high >> 16) & 0xFFFF, high & 0xFFFF, low >> 48, low & 0xFFFFFFFFFFFF);
    return text;
}

} // namespace

struct ProcessTapProof::Cells {
    std::atomic<std::int32_t> inputBufferCount{-1};
    std::atomic<std::int32_t> outputBufferCount{-1};
    std::atomic<float> inputPeak{0.0f};
    static_assert(std::atomic<std::int32_t>::is_always_lock_free);
    static_assert(std::atomic<float>::is_always_lock_free);
};

ProcessTapProof::ProcessTapProof(HardwareFactory hardware, ProofCallNames names,
                                 std::shared_ptr<SerialQueue> queue)
    : hardwareFactory_(std::move(hardware)), names_(std::move(names)), queue_(std::move(queue)),
      cells_(std::make_unique<Cells>()), render_(1.0f, false) {}

// The owner stops the proof before it goes (an IO procedure still running would outlive the
// cells). The watch must not reach it either: cancel it, then let a tick under way finish.
ProcessTapProof::~ProcessTapProof() {
    if (timer_) {
        timer_->cancel();
    }
    if (!queue_->isCurrent()) {
        queue_->sync([] {});
    }
}

void ProcessTapProof::setOnStatus(StatusCallback callback) {
    auto set = [this, callback = std::move(callback)]() mutable {
        onStatus_ = std::move(callback);
    };
    if (queue_->isCurrent()) {
        set();
    } else {
        queue_->sync(std::move(set));
    }
}

void ProcessTapProof::report(const std::string& line) {
    if (onStatus_) {
        onStatus_(line);
    }
}

void ProcessTapProof::run(pid_type pid) {
    queue_->async([this, pid] { runOnQueue(pid); });
}

std::string ProcessTapProof::chooseAggregateUID(AudioHardware& hardware) {
    std::vector<AudioDeviceInfo> devices;
    try {
        devices = hardware.outputDevices();
    } catch (const AudioHardwareError&) {
        // Without a list nothing can be seen to collide.
    }
    for (const auto& device : devices) {
        if (device.uid == preferredAggregateUID) {
            const std::string fresh = freshUUID();
            report("aggregate UID collision device " + std::to_string(device.objectID) + " using " +
                   fresh);
            return fresh;
        }
    }
    return preferredAggregateUID;
}

void ProcessTapProof::runOnQueue(pid_type pid) {
    if (!hardware_) {
        hardware_ = hardwareFactory_();
    }
    if (!hardware_) {
        report("no audio hardware");
        return;
    }
    AudioHardware& hardware = *hardware_;

    AudioObjectID process = 0;
    try {
        process = hardware.processObject(pid);
        report(names_.translatePID + " pid " + std::to_string(pid) + " object " +
               std::to_string(process) + " " + statusOf(nullptr));
    } catch (const AudioHardwareError& e) {
        report(names_.translatePID + " pid " + std::to_string(pid) + " " + statusOf(&e));
        return;
    }
    if (tapID_ != 0) {
        report("tap already exists");
        return;
    }

    report("mute " + names_.muteBehaviour + " 2");
    TapHandle tap;
    try {
        tap = hardware.createTap(process, tapName, true);
        tapID_ = tap.objectID;
        report(names_.createTap + " tap " + std::to_string(tap.objectID) + " " + statusOf(nullptr));
        report(names_.tapUID + " " + tap.uid + " " + statusOf(nullptr));
    } catch (const AudioHardwareError& e) {
        report((e.operation() == "string property" ? names_.tapUID : names_.createTap) + " " +
               statusOf(&e));
        return;
    }

    std::string output;
    try {
        output = hardware.defaultOutputDeviceUID();
        report(names_.defaultOutput + " " + statusOf(nullptr));
        report(names_.deviceUID + " " + output + " " + statusOf(nullptr));
    } catch (const AudioHardwareError& e) {
        report((e.operation() == "string property" ? names_.deviceUID : names_.defaultOutput) +
               " " + statusOf(&e));
        return;
    }

    const std::string uid = chooseAggregateUID(hardware);
    try {
        aggregateID_ = hardware.createAggregate({uid, tapName, output, tap.uid});
        report(names_.createAggregate + " device " + std::to_string(aggregateID_) + " " +
               statusOf(nullptr));
    } catch (const AudioHardwareError& e) {
        report(names_.createAggregate + " " + statusOf(&e));
        return;
    }
    // The interface delivers every tap as one interleaved stereo float buffer.
    report(names_.tapFormat +
           " rate graph format lpcm flags float packed float interleaved channels 2 bits 32 "
           "bytes per frame 8");

    Cells* cells = cells_.get();
    TapIOState::Memory* memory = render_.memory();
    cells->inputBufferCount.store(0, relaxed);
    cells->outputBufferCount.store(0, relaxed);
    cells->inputPeak.store(0.0f, relaxed);
    memory->passthrough.store(0, relaxed);
    // Real-time thread: only the cells and the render state, single loads and stores.
    IOBlock block = [cells, memory](const AudioTimeStamp&, const AudioBufferList& input,
                                    const AudioTimeStamp&, AudioBufferList& out,
                                    const AudioTimeStamp&) {
        if (input.numberBuffers > 0 && input.buffers[input.numberBuffers - 1].data != nullptr) {
            cells->inputBufferCount.store(cells->inputBufferCount.load(relaxed) + 1, relaxed);
        }
        if (out.numberBuffers > 0) {
            cells->outputBufferCount.store(cells->outputBufferCount.load(relaxed) + 1, relaxed);
        }
        renderTap(input, out, memory);
        cells->inputPeak.store(memory->peak.load(relaxed), relaxed);
    };
    try {
        io_ = hardware.startIO(aggregateID_, std::move(block));
        ioStarted_ = true;
        report(names_.createIOProc + " " + statusOf(nullptr));
        report(names_.startDevice + " " + statusOf(nullptr));
    } catch (const AudioHardwareError& e) {
        if (e.operation() == "AudioDeviceStart") {
            report(names_.createIOProc + " " + statusOf(nullptr));
            report(names_.startDevice + " " + statusOf(&e));
        } else {
            report(names_.createIOProc + " " + statusOf(&e));
        }
    }
}

void ProcessTapProof::watch(Seconds interval, Seconds giveUpAfter, std::function<void()> onGaveUp) {
    queue_->async([this, interval, giveUpAfter, onGaveUp = std::move(onGaveUp)]() mutable {
        if (timer_) {
            timer_->cancel();
        }
        onGaveUp_ = std::move(onGaveUp);
        gaveUp_ = false;
        watchStart_ = queue_->now();
        timer_ = queue_->scheduleTimer(watchStart_ + interval, interval,
                                       [this, giveUpAfter] { tick(giveUpAfter); });
    });
}

void ProcessTapProof::tick(Seconds giveUpAfter) {
    const std::int32_t input = cells_->inputBufferCount.load(relaxed);
    const std::int32_t output = cells_->outputBufferCount.load(relaxed);
    char line[96];
    std::snprintf(line, sizeof line, "level peak %.4f buffers %d",
                  static_cast<double>(cells_->inputPeak.load(relaxed)), input);
    report(line);
    if (input > 0 && render_.memory()->passthrough.load(relaxed) == 0) {
        render_.memory()->passthrough.store(1, relaxed);
        report("PHASE passthrough");
    }
    if (input <= 0 && output <= 0 && !gaveUp_ && queue_->now() - watchStart_ >= giveUpAfter) {
        gaveUp_ = true;
        timer_->cancel();
        report("PHASE gaveup no IOProc buffers after 90 s");
        if (onGaveUp_) {
            onGaveUp_();
        }
    }
}

void ProcessTapProof::stop() {
    if (queue_->isCurrent()) {
        stopOnQueue();
    } else {
        queue_->sync([this] { stopOnQueue(); });
    }
}

void ProcessTapProof::stopOnQueue() {
    if (timer_) {
        timer_->cancel();
        timer_.reset();
    }
    if (!io_ && !ioStarted_ && aggregateID_ == 0 && tapID_ == 0) {
        report("Tear Down nothing");
        return;
    }
    if (io_) {
        const IOHandle io = *io_;
        io_.reset();
        ioStarted_ = false;
        try {
            hardware_->stopIO(io);
            report(names_.stopDevice + " " + statusOf(nullptr));
            report(names_.destroyIOProc + " " + statusOf(nullptr));
        } catch (const AudioHardwareError& e) {
            const bool stopFailed = e.operation() == "AudioDeviceStop";
            report(names_.stopDevice + " " + (stopFailed ? statusOf(&e) : statusOf(nullptr)));
            report(names_.destroyIOProc + " " + (stopFailed ? "status unknown" : statusOf(&e)));
        }
    } else {
        report("Stop Playback nothing");
    }
    if (aggregateID_ != 0) {
        const AudioObjectID aggregate = aggregateID_;
        aggregateID_ = 0;
        try {
            hardware_->destroyAggregate(aggregate);
            report(names_.destroyAggregate + " " + statusOf(nullptr));
        } catch (const AudioHardwareError& e) {
            report(names_.destroyAggregate + " " + statusOf(&e));
        }
    }
    if (tapID_ != 0) {
        const AudioObjectID tap = tapID_;
        tapID_ = 0;
        try {
            hardware_->destroyTap(tap);
            report(names_.destroyTap + " " + statusOf(nullptr));
        } catch (const AudioHardwareError& e) {
            report(names_.destroyTap + " " + statusOf(&e));
        }
    }
}

std::int32_t ProcessTapProof::inputBufferCount() const {
    return cells_->inputBufferCount.load(relaxed);
}

std::int32_t ProcessTapProof::outputBufferCount() const {
    return cells_->outputBufferCount.load(relaxed);
}

float ProcessTapProof::inputPeak() const {
    return cells_->inputPeak.load(relaxed);
}

bool ProcessTapProof::passingThrough() const {
    return render_.memory()->passthrough.load(relaxed) != 0;
}

} // namespace brindell
