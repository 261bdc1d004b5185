#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace brindell {

// The error of every throwing AudioHardware operation.
class AudioHardwareError : public std::exception {
public:
    enum class Kind { status, noSuchObject };

    // A platform call failed: operation is a fixed literal per failing call (shown to users),
    // code the platform's status (on PipeWire, its negative errno).
    static AudioHardwareError status(std::string operation, std::int32_t code) {
        return AudioHardwareError(Kind::status, std::move(operation), code);
    }
    // A call succeeded but named no object.
    static AudioHardwareError noSuchObject() {
        return AudioHardwareError(Kind::noSuchObject, {}, 0);
    }

    Kind kind() const { return kind_; }
    const std::string& operation() const { return operation_; }
    std::int32_t code() const { return code_; }

    // The text form used in every message: status("CreateProcessTap", -50) or noSuchObject.
    const std::string& text() const { return text_; }
    const char* what() const noexcept override { return text_.c_str(); }

    friend bool operator==(const AudioHardwareError& a, const AudioHardwareError& b) {
        return a.kind_ == b.kind_ && a.operation_ == b.operation_ && a.code_ == b.code_;
    }

private:
    AudioHardwareError(Kind kind, std::string operation, std::int32_t code);

    Kind kind_;
    std::string operation_;
    std::int32_t code_;
    std::string text_;
};

} // namespace brindell
