#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct ssl_ctx_st;

namespace brindell::test {

// A small HTTPS server for tests, over OpenSSL: listens on 127.0.0.1 only, on a free port, with
// a throwaway self-signed certificate for 127.0.0.1 made at start with the openssl tool (its PEM
// file is the CA file clients must trust). Serves one connection at a time, answers each request
// with the next scripted status (then 200), and records what it received. It stops in its
// destructor, and by itself once its lifetime has passed, so a broken test cannot leave it running.
class HttpsTestServer {
public:
    struct Request {
        std::string method;
        std::string target;
        std::map<std::string, std::string> headers; // names in lower case
        std::string body;
    };

    explicit HttpsTestServer(const std::filesystem::path& folder,
                             std::chrono::seconds lifetime = std::chrono::seconds(90));
    ~HttpsTestServer();
    HttpsTestServer(const HttpsTestServer&) = delete;
    HttpsTestServer& operator=(const HttpsTestServer&) = delete;

    int port() const { return port_; }
    std::string url(const std::string& path = "/v1/crash") const;
    const std::filesystem::path& caFile() const { return caFile_; }

    void script(std::vector<int> statuses);
    // Reads requests but never answers, holding each connection until the client gives up.
    void setSilent(bool silent) { silent_ = silent; }

    std::vector<Request> requests() const;
    int failedHandshakes() const { return failedHandshakes_; }
    // Waits until at least count requests arrived; false if the limit passed first.
    bool waitForRequests(std::size_t count, std::chrono::milliseconds limit) const;

private:
    void run(std::chrono::steady_clock::time_point deadline);
    void serve(int client);

    std::unique_ptr<ssl_ctx_st, void (*)(ssl_ctx_st*)> context_;
    std::filesystem::path caFile_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> silent_{false};
    std::atomic<int> failedHandshakes_{0};
    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    std::vector<int> script_;
    std::vector<Request> requests_;
    std::thread thread_;
};

} // namespace brindell::test
