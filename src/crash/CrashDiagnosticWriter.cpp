#include "crash/CrashDiagnosticWriter.h"

#include <csignal>

namespace brindell {
namespace {

// Appends to a fixed buffer; remembers overflow instead of failing at each step.
class FixedWriter {
public:
    FixedWriter(char* buffer, std::size_t capacity) : at_(buffer), begin_(buffer) {
        end_ = capacity == 0 ? buffer : buffer + capacity - 1; // room for the NUL
    }

    void put(char c) {
        if (at_ == end_) {
            full_ = true;
            return;
        }
        *at_++ = c;
    }
    void raw(const char* text) {
        while (*text != '\0') {
            put(*text++);
        }
    }
    void string(const char* text) {
        static const char hex[] = "0123456789abcdef";
        put('"');
        if (text == nullptr) {
            text = "";
        }
        for (; *text != '\0'; ++text) {
            const auto c = static_cast<unsigned char>(*text);
            if (c == '"' || c == '\\') {
                put('\\');
                put(static_cast<char>(c));
            } else if (c < 0x20 || c > 0x7e) {
                raw("\\u00");
                put(hex[c >> 4]);
                put(hex[c & 0xf]);
            } else {
                put(static_cast<char>(c));
            }
        }
        put('"');
    }
    void number(std::uint64_t value, int minimumDigits = 1) {
        char digits[20];
        int count = 0;
        do {
            digits[count++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0 || count < minimumDigits);
        while (count > 0) {
            put(digits[--count]);
        }
    }
    void number(std::int64_t value) {
        if (value < 0) {
            put('-');
            // Negate in unsigned arithmetic: defined for the most negative value too.
            number(0 - static_cast<std::uint64_t>(value));
        } else {
            number(static_cast<std::uint64_t>(value));
        }
    }
    void key(const char* name) {
        string(name);
        put(':');
    }

    std::size_t finish() {
        if (full_ || begin_ == nullptr || end_ < begin_) {
            return 0;
        }
        *at_ = '\0';
        return static_cast<std::size_t>(at_ - begin_);
    }

private:
    char* at_;
    char* begin_;
    char* end_;
    bool full_ = false;
};

} // namespace

int exceptionTypeForSignal(int signal) {
    switch (signal) {
    case SIGSEGV:
    case SIGBUS:
        return 1;
    case SIGILL:
        return 2;
    case SIGFPE:
        return 3;
    case SIGTRAP:
        return 6;
    case SIGABRT:
        return 10;
    default:
        return 0;
    }
}

std::size_t writeCrashDiagnostic(const CapturedCrash& crash, char* buffer, std::size_t capacity) {
    if (capacity == 0) {
        return 0;
    }
    FixedWriter out(buffer, capacity);
    out.raw("{");
    out.key("timeStamp");
    out.number(crash.timeSeconds);
    out.put('.');
    out.number(static_cast<std::uint64_t>(crash.timeNanoseconds), 9);
    out.raw(",");
    out.key("diagnosticMetaData");
    out.raw("{");
    out.key("appVersion");
    out.string(crash.version);
    out.raw(",");
    out.key("appBuildVersion");
    out.string(crash.build);
    out.raw(",");
    out.key("osVersion");
    out.string(crash.os);
    out.raw(",");
    out.key("platformArchitecture");
    out.string(crash.arch);
    out.raw(",");
    if (const int type = exceptionTypeForSignal(crash.signal); type != 0) {
        out.key("exceptionType");
        out.number(static_cast<std::int64_t>(type));
        out.raw(",");
    }
    out.key("exceptionCode");
    out.number(static_cast<std::int64_t>(crash.code));
    out.raw(",");
    out.key("signal");
    out.number(static_cast<std::int64_t>(crash.signal));
    out.raw(",");
    out.key("terminationReason");
    out.raw("\"Namespace SIGNAL, Code ");
    out.number(static_cast<std::int64_t>(crash.signal));
    out.raw("\",");
    out.key("pid");
    out.number(crash.pid);
    out.raw(",");
    out.key("executablePath");
    out.string(crash.executablePath);
    out.raw("},");
    out.key("callStackTree");
    out.raw("{\"callStackPerThread\":true,\"callStacks\":[{\"threadAttributed\":true,");
    out.key("callStackRootFrames");
    out.raw("[");
    const std::size_t count =
        crash.frameCount < CapturedCrash::maxFrames ? crash.frameCount : CapturedCrash::maxFrames;
    for (std::size_t i = 0; i < count; ++i) {
        const CapturedCrash::Frame& frame = crash.frames[count - 1 - i]; // outermost first
        out.raw(i == 0 ? "{" : ",{");
        out.key("binaryName");
        out.string(frame.image != nullptr ? frame.image : "");
        out.raw(",");
        out.key("binaryUUID");
        out.string(frame.uuid);
        out.raw(",");
        out.key("offsetIntoBinaryTextSegment");
        out.number(frame.offset);
        out.raw(",");
        out.key("address");
        out.number(frame.address);
        out.raw("}");
    }
    out.raw("]}]}}");
    return out.finish();
}

std::size_t writeCrashDiagnosticName(std::int64_t seconds, std::int64_t nanoseconds,
                                     std::int64_t pid, char* buffer, std::size_t capacity) {
    if (capacity == 0) {
        return 0;
    }
    FixedWriter out(buffer, capacity);
    out.number(seconds);
    out.put('.');
    out.number(static_cast<std::uint64_t>(nanoseconds), 9);
    out.put('-');
    out.number(pid);
    out.raw(".json");
    return out.finish();
}

} // namespace brindell
