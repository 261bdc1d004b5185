// Feeds arbitrary bytes to CrashReport::make. Beyond not crashing, a report it makes must obey
// the limits, encode, and pass through make again unchanged: sanitising is idempotent.
#include "FuzzRequire.h"
#include "crash/CrashReport.h"

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string_view>

namespace {

nlohmann::json asDiagnostic(const brindell::CrashReport& report) {
    nlohmann::json metadata = {{"appVersion", report.version},
                               {"appBuildVersion", report.build},
                               {"osVersion", report.os},
                               {"platformArchitecture", report.arch}};
    if (report.exceptionType) {
        metadata["exceptionType"] = *report.exceptionType;
    }
    if (report.exceptionCode) {
        metadata["exceptionCode"] = *report.exceptionCode;
    }
    if (report.signal) {
        metadata["signal"] = *report.signal;
    }
    if (report.termination) {
        metadata["terminationReason"] = *report.termination;
    }
    nlohmann::json frames = nlohmann::json::array();
    for (const auto& frame : report.frames) {
        frames.push_back({{"binaryName", frame.image},
                          {"binaryUUID", frame.uuid},
                          {"offsetIntoBinaryTextSegment", frame.offset}});
    }
    return {{"diagnosticMetaData", metadata},
            {"callStackTree",
             {{"callStacks", {{{"threadAttributed", true}, {"callStackRootFrames", frames}}}}}}};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto report =
        brindell::CrashReport::make(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!report) {
        return 0;
    }
    require(report->v == 1 && report->app == "brindell", "version and app");
    require(report->arch == "arm64" || report->arch == "x86_64", "a known architecture");
    require(report->frames.size() <= brindell::CrashReport::maxFrames, "at most maxFrames");
    for (const auto& frame : report->frames) {
        require(frame.offset <= brindell::CrashReport::maxOffset, "an offset within limits");
        require(frame.image.find('/') == std::string::npos, "an image that is no path");
    }
    require(!report->signal || (*report->signal >= 0 && *report->signal <= 64), "a signal");
    const auto encoded = report->encoded();
    require(nlohmann::json::accept(encoded.begin(), encoded.end()), "JSON");
    require(brindell::CrashReport::make(asDiagnostic(*report).dump()) == report, "idempotent");
    return 0;
}
