#include "HttpsTestServer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <csignal>
#include <cstdlib>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace brindell::test {

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        throw std::runtime_error(std::string("test server: ") + what);
    }
}

// Reads from the TLS connection until the predicate holds, the peer closes or time runs out.
template <typename Done> bool readUntil(SSL* ssl, std::string& data, Done done) {
    char chunk[4096];
    while (!done()) {
        const int n = SSL_read(ssl, chunk, sizeof chunk);
        if (n <= 0 || data.size() > (4u << 20)) {
            return false;
        }
        data.append(chunk, static_cast<std::size_t>(n));
    }
    return true;
}

} // namespace

HttpsTestServer::HttpsTestServer(const std::filesystem::path& folder, std::chrono::seconds lifetime)
    : context_(nullptr, SSL_CTX_free), caFile_(folder / "test-server-ca.pem") {
    // A client that hangs up mid-answer must not end the test process.
    std::signal(SIGPIPE, SIG_IGN);

    // A throwaway self-signed certificate for 127.0.0.1 that clients can be told to trust.
    const auto key = folder / "test-server-key.pem";
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1"
        " -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1"
        " -addext keyUsage=critical,digitalSignature,keyCertSign -keyout '" +
        key.native() + "' -out '" + caFile_.native() + "' 2>/dev/null";
    check(std::system(command.c_str()) == 0, "openssl req");
    context_.reset(SSL_CTX_new(TLS_server_method()));
    check(context_ &&
              SSL_CTX_use_certificate_file(context_.get(), caFile_.c_str(), SSL_FILETYPE_PEM) ==
                  1 &&
              SSL_CTX_use_PrivateKey_file(context_.get(), key.c_str(), SSL_FILETYPE_PEM) == 1,
          "TLS context");

    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    check(listener_ >= 0, "socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    check(bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
              listen(listener_, 8) == 0 &&
              getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0,
          "listening on 127.0.0.1");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread(
        [this, deadline = std::chrono::steady_clock::now() + lifetime] { run(deadline); });
}

HttpsTestServer::~HttpsTestServer() {
    stopping_ = true;
    thread_.join();
    close(listener_);
}

std::string HttpsTestServer::url(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(port_) + path;
}

void HttpsTestServer::script(std::vector<int> statuses) {
    std::lock_guard lock(mutex_);
    script_ = std::move(statuses);
}

std::vector<HttpsTestServer::Request> HttpsTestServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool HttpsTestServer::waitForRequests(std::size_t count, std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, limit, [&] { return requests_.size() >= count; });
}

void HttpsTestServer::run(std::chrono::steady_clock::time_point deadline) {
    while (!stopping_ && std::chrono::steady_clock::now() < deadline) {
        pollfd waiting{listener_, POLLIN, 0};
        if (poll(&waiting, 1, 50) <= 0) {
            continue;
        }
        const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client >= 0) {
            serve(client);
            close(client);
            ERR_clear_error();
        }
    }
}

void HttpsTestServer::serve(int client) {
    timeval timeout{5, 0}; // a stuck client cannot hold the server for long
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    const std::unique_ptr<SSL, decltype(&SSL_free)> connection(SSL_new(context_.get()), SSL_free);
    SSL* ssl = connection.get();
    SSL_set_fd(ssl, client);
    if (SSL_accept(ssl) != 1) {
        ++failedHandshakes_;
        return;
    }
    std::string data;
    std::size_t headerEnd = std::string::npos;
    if (!readUntil(ssl, data,
                   [&] { return (headerEnd = data.find("\r\n\r\n")) != std::string::npos; })) {
        return;
    }
    Request request;
    std::istringstream head(data.substr(0, headerEnd + 2));
    std::string line;
    head >> request.method >> request.target;
    std::getline(head, line);
    while (std::getline(head, line, '\r') && head.ignore()) { // lines end in \r\n
        if (const auto colon = line.find(':'); colon != std::string::npos) {
            std::string name = line.substr(0, colon);
            std::ranges::transform(name, name.begin(), [](unsigned char c) {
                return static_cast<char>(std::tolower(c));
            });
            request.headers[name] =
                line.substr(std::min(line.find_first_not_of(' ', colon + 1), line.size()));
        }
    }
    const auto length = request.headers.find("content-length");
    const std::size_t bodyLength = length == request.headers.end() ? 0 : std::stoul(length->second);
    if (!readUntil(ssl, data, [&] { return data.size() >= headerEnd + 4 + bodyLength; })) {
        return;
    }
    request.body = data.substr(headerEnd + 4, bodyLength);
    int status = 200;
    {
        std::lock_guard lock(mutex_);
        if (requests_.size() < script_.size()) {
            status = script_[requests_.size()];
        }
        requests_.push_back(request);
    }
    arrived_.notify_all();
    if (silent_) {
        // Hold the connection, unanswered, until the client hangs up or the server stops.
        char discard[512];
        while (!stopping_) {
            pollfd waiting{client, POLLIN, 0};
            if (poll(&waiting, 1, 50) > 0 && recv(client, discard, sizeof discard, 0) <= 0) {
                break;
            }
        }
        return;
    }
    const std::string answer =
        "HTTP/1.1 " + std::to_string(status) + " Test\r\n" +
        "Content-Type: text/plain\r\nContent-Length: 2\r\n" +
        "Set-Cookie: session=tracking; Path=/; Max-Age=3600\r\n" +
        (status / 100 == 3 ? "Location: " + url("/elsewhere") + "\r\n" : "") +
        "Connection: close\r\n\r\nok";
    SSL_write(ssl, answer.data(), static_cast<int>(answer.size()));
    SSL_shutdown(ssl);
}

} // namespace brindell::test
