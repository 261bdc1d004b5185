#include "crash/curl/CurlCrashSender.h"

#include "crash/CrashEndpoint.h"

#include <curl/curl.h>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace brindell {
namespace {

void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

std::size_t discardBody(char*, std::size_t size, std::size_t count, void*) {
    return size * count;
}

int checkCancelled(void* sender, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<const std::atomic<bool>*>(sender)->load() ? 1 : 0; // non-zero aborts
}

long milliseconds(double seconds) {
    return static_cast<long>(seconds * 1000.0);
}

void require(CURLcode code, const char* what) {
    if (code != CURLE_OK) {
        throw CrashTransportError(std::string(what) + ": " + curl_easy_strerror(code));
    }
}

} // namespace

CurlCrashSender::CurlCrashSender(Options options) : options_(std::move(options)) {
    if (!crashIntakeEndpoint(options_.url)) {
        throw std::invalid_argument("crash reports go to https endpoints only");
    }
    initialiseCurlOnce();
}

void CurlCrashSender::send(const Blob& body) {
    if (cancelled_) {
        throw CrashTransportError("cancelled");
    }
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy) {
        throw CrashTransportError("libcurl could not start a request");
    }
    // "Expect:" keeps libcurl from waiting for a 100 Continue before larger bodies.
    curl_slist* list = nullptr;
    for (const char* header : {"Content-Type: application/json", "Expect:"}) {
        curl_slist* appended = curl_slist_append(list, header);
        if (appended == nullptr) {
            curl_slist_free_all(list);
            throw CrashTransportError("out of memory");
        }
        list = appended;
    }
    const std::unique_ptr<curl_slist, ListDeleter> headers(list);
    CURL* h = easy.get();
    char error[CURL_ERROR_SIZE] = {};
    // The cookie engine stays off (no COOKIEFILE), libcurl has no cache, and without
    // FOLLOWLOCATION no redirect is followed.
    require(curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error), "error buffer");
    require(curl_easy_setopt(h, CURLOPT_URL, options_.url.c_str()), "URL");
    require(curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "https"), "protocols");
    require(curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L), "no signals");
    require(curl_easy_setopt(h, CURLOPT_POST, 1L), "POST");
    require(curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.data()), "body");
    require(curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size())),
            "body size");
    require(curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get()), "headers");
    require(curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, milliseconds(options_.requestTimeout)),
            "timeout");
    require(curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, milliseconds(options_.stallTimeout)),
            "connect timeout");
    require(curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L), "stall limit");
    require(
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME,
                         static_cast<long>(options_.stallTimeout > 1 ? options_.stallTimeout : 1)),
        "stall time");
    require(curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L), "verify peer");
    require(curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L), "verify host");
    if (options_.caFile) {
        require(curl_easy_setopt(h, CURLOPT_CAINFO, options_.caFile->c_str()), "CA file");
    }
    require(curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, discardBody), "response body");
    require(curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L), "progress");
    require(curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, checkCancelled), "progress callback");
    require(curl_easy_setopt(h, CURLOPT_XFERINFODATA, &cancelled_), "progress data");

    const CURLcode result = curl_easy_perform(h);
    if (result != CURLE_OK) {
        throw CrashTransportError(error[0] != '\0' ? error : curl_easy_strerror(result));
    }
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    // An answer without an HTTP status is not a rejection.
    if (status != 0 && (status < 200 || status > 299)) {
        throw SendError::rejected(status);
    }
}

} // namespace brindell
