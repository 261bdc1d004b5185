#pragma once

#include "settings/SettingsStorage.h"

#include <cstdint>
#include <stdexcept>
#include <string>

namespace brindell {

// The intake endpoint answered, but not with a status from 200 to 299.
class SendError : public std::exception {
public:
    enum class Kind { rejected };

    static SendError rejected(std::int64_t status) { return SendError(status); }

    Kind kind() const { return Kind::rejected; }
    std::int64_t status() const { return status_; }
    // "rejected(404)"
    const std::string& text() const { return text_; }
    const char* what() const noexcept override { return text_.c_str(); }

    friend bool operator==(const SendError& a, const SendError& b) {
        return a.status_ == b.status_;
    }

private:
    explicit SendError(std::int64_t status)
        : status_(status), text_("rejected(" + std::to_string(status) + ")") {}

    std::int64_t status_;
    std::string text_;
};

// No answer came: the connection, TLS or the timeout failed, or the send was cancelled. Carries
// the transport's own message.
class CrashTransportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Posts one crash report to the intake endpoint.
class CrashSender {
public:
    virtual ~CrashSender() = default;

    // Sends the body and waits for the answer. Throws SendError for a status outside 200 to
    // 299, CrashTransportError when there was no answer. Called from the upload queue only;
    // sends never overlap.
    virtual void send(const Blob& body) = 0;

    // Makes the send in progress, and every later one, fail soon, so that quitting never waits
    // for the network. Any thread.
    virtual void cancel() {}
};

} // namespace brindell
