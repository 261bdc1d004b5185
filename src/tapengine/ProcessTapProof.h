#pragma once

#include "audio/AudioHardware.h"
#include "queue/SerialQueue.h"
#include "tapengine/TapIOState.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace brindell {

// What the proof calls each platform step in its status lines: this platform's own names.
struct ProofCallNames {
    std::string translatePID;     // pid -> process object
    std::string createTap;        // making the tap
    std::string tapUID;           // reading the tap's UID
    std::string muteBehaviour;    // how the tap silences the app ("mute <this> 2")
    std::string defaultOutput;    // reading the default output device
    std::string deviceUID;        // reading its UID
    std::string createAggregate;  // making the private device
    std::string tapFormat;        // the tap's stream format
    std::string createIOProc;     // making the IO procedure
    std::string startDevice;      // starting it
    std::string stopDevice;       // stopping it
    std::string destroyIOProc;    // destroying it
    std::string destroyAggregate; // destroying the private device
    std::string destroyTap;       // destroying the tap
};

// A self-contained diagnostic that proves, one status line per step, that one application's
// audio can be tapped, routed through a private device and seen in an IO procedure, and then
// played through at unity gain. It is not part of normal operation: the program creates one at
// start-up, runs it only for the "--autoproof" switch, and calls stop() when it terminates, in
// every run (which with nothing made reports only "Tear Down nothing").
//
// Threading: every step runs on the proof's serial queue; status lines are reported there. The
// IO procedure runs on the platform's real-time thread and touches only the proof's cells and
// its TapIOState, which live as long as the proof.
class ProcessTapProof {
public:
    using StatusCallback = std::function<void(const std::string&)>;
    using HardwareFactory = std::function<std::shared_ptr<AudioHardware>()>;

    static constexpr const char* tapName = "Brindell Proof";
    static constexpr const char* preferredAggregateUID =
        "com.quorvel.taskor.brindell.proof-aggregate";

    // hardware is asked for only when the proof runs, so a run without the switch never
    // touches the audio system.
    ProcessTapProof(HardwareFactory hardware, ProofCallNames names,
                    std::shared_ptr<SerialQueue> queue);
    ~ProcessTapProof();
    ProcessTapProof(const ProcessTapProof&) = delete;
    ProcessTapProof& operator=(const ProcessTapProof&) = delete;

    // Receives every status line, on the proof's queue. Initially does nothing.
    void setOnStatus(StatusCallback callback);

    // Runs the proof for pid on the queue (asynchronously).
    void run(pid_type pid);

    // Every interval on the queue: reports "level peak %.4f buffers %d", switches to passing the
    // audio through at unity gain once the IO procedure has seen tap input ("PHASE
    // passthrough"), and after giveUpAfter seconds without a single IO buffer reports "PHASE
    // gaveup no IOProc buffers after 90 s" and calls onGaveUp once.
    void watch(Seconds interval, Seconds giveUpAfter, std::function<void()> onGaveUp);

    // Tears down what exists, on the queue (synchronously, or directly when already on it):
    // the IO procedure, the private device, the tap, each with its status.
    void stop();

    // The cells the IO procedure writes (-1 before any IO procedure exists).
    std::int32_t inputBufferCount() const;
    std::int32_t outputBufferCount() const;
    float inputPeak() const;
    bool passingThrough() const;

private:
    struct Cells;

    void report(const std::string& line);
    void runOnQueue(pid_type pid);
    void tick(Seconds giveUpAfter);
    void stopOnQueue();
    std::string chooseAggregateUID(AudioHardware& hardware);

    const HardwareFactory hardwareFactory_;
    const ProofCallNames names_;
    const std::shared_ptr<SerialQueue> queue_;

    // Queue state.
    StatusCallback onStatus_;
    std::shared_ptr<AudioHardware> hardware_;
    AudioObjectID tapID_ = 0;
    AudioObjectID aggregateID_ = 0;
    std::optional<IOHandle> io_;
    bool ioStarted_ = false;
    std::shared_ptr<RepeatingTimer> timer_;
    Seconds watchStart_ = 0;
    std::function<void()> onGaveUp_;
    bool gaveUp_ = false;

    // Shared with the IO procedure: separate heap blocks, never moved.
    std::unique_ptr<Cells> cells_;
    TapIOState render_;
};

} // namespace brindell
