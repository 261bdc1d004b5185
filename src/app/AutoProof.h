#pragma once

#include "app/Termination.h"
#include "audio/AudioRecords.h"

#include <memory>
#include <optional>
#include <string>

namespace brindell {

class PipeWireHardware;
class ProcessTapProof;
class ThreadQueue;

// The process tap proof as the program holds it: run for "--autoproof [PID]" and stopped on
// the mode's termination path, a signal included. Its status lines go to autoproof.log
// in the temporary directory, each as the seconds since 1970 modulo 100000 with two decimals,
// a blank and the line.
class AutoProof {
public:
    AutoProof();
    ~AutoProof();
    AutoProof(const AutoProof&) = delete;
    AutoProof& operator=(const AutoProof&) = delete;

    // The --autoproof mode: proves on pid, else on the first other process playing audio, until
    // a stop signal (exit code 0) or the proof gives up (1). The caller stops the proof after.
    int run(std::optional<pid_type> pid, Termination& termination);

    // The termination step of every run; with nothing made it only reports "Tear Down nothing".
    void stop();

private:
    void log(const std::string& line);

    std::shared_ptr<ThreadQueue> queue_;
    std::shared_ptr<PipeWireHardware> hardware_;
    std::unique_ptr<ProcessTapProof> proof_;
    bool logging_ = false;
};

} // namespace brindell
