#include "HttpsTestServer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <csignal>
#include <fstream>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace brindell::test {

struct HttpsTestServer::Tls {
    EVP_PKEY* key = nullptr;
    X509* certificate = nullptr;
    SSL_CTX* context = nullptr;
    ~Tls() {
        SSL_CTX_free(context);
        X509_free(certificate);
        EVP_PKEY_free(key);
    }
};

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        throw std::runtime_error(std::string("test server: ") + what);
    }
}

void addExtension(X509* certificate, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    check(extension != nullptr && X509_add_ext(certificate, extension, -1) == 1, "extension");
    X509_EXTENSION_free(extension);
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
    : tls_(std::make_unique<Tls>()), caFile_(folder / "test-server-ca.pem") {
    // A client that hangs up mid-answer must not end the test process.
    std::signal(SIGPIPE, SIG_IGN);

    tls_->key = EVP_EC_gen("P-256");
    check(tls_->key != nullptr, "key");
    X509* certificate = tls_->certificate = X509_new();
    check(certificate != nullptr, "certificate");
    X509_set_version(certificate, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), static_cast<long>(time(nullptr)));
    X509_gmtime_adj(X509_getm_notBefore(certificate), -60);
    X509_gmtime_adj(X509_getm_notAfter(certificate), 24L * 3600);
    X509_set_pubkey(certificate, tls_->key);
    X509_NAME* name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(certificate, name);
    addExtension(certificate, NID_basic_constraints, "critical,CA:TRUE");
    addExtension(certificate, NID_key_usage, "critical,digitalSignature,keyCertSign");
    addExtension(certificate, NID_subject_key_identifier, "hash");
    addExtension(certificate, NID_subject_alt_name, "IP:127.0.0.1");
    check(X509_sign(certificate, tls_->key, EVP_sha256()) > 0, "signing");
    {
        FILE* out = std::fopen(caFile_.c_str(), "w");
        check(out != nullptr, "CA file");
        const bool written = PEM_write_X509(out, certificate) == 1;
        std::fclose(out);
        check(written, "CA file");
    }
    tls_->context = SSL_CTX_new(TLS_server_method());
    check(tls_->context != nullptr && SSL_CTX_use_certificate(tls_->context, certificate) == 1 &&
              SSL_CTX_use_PrivateKey(tls_->context, tls_->key) == 1,
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
        }
    }
}

void HttpsTestServer::serve(int client) {
    timeval timeout{5, 0}; // a stuck client cannot hold the server for long
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    SSL* ssl = SSL_new(tls_->context);
    SSL_set_fd(ssl, client);
    if (SSL_accept(ssl) != 1) {
        ++failedHandshakes_;
        SSL_free(ssl);
        ERR_clear_error();
        return;
    }
    std::string data;
    std::size_t headerEnd = std::string::npos;
    Request request;
    bool complete = readUntil(
        ssl, data, [&] { return (headerEnd = data.find("\r\n\r\n")) != std::string::npos; });
    if (complete) {
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
        const std::size_t bodyLength =
            length == request.headers.end() ? 0 : std::stoul(length->second);
        complete = readUntil(ssl, data, [&] { return data.size() >= headerEnd + 4 + bodyLength; });
        request.body = data.substr(headerEnd + 4, bodyLength);
    }
    if (complete) {
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
        } else {
            const std::string answer =
                "HTTP/1.1 " + std::to_string(status) + " Test\r\n" +
                "Content-Type: text/plain\r\nContent-Length: 2\r\n" +
                "Set-Cookie: session=tracking; Path=/; Max-Age=3600\r\n" +
                (status / 100 == 3 ? "Location: " + url("/elsewhere") + "\r\n" : "") +
                "Connection: close\r\n\r\nok";
            SSL_write(ssl, answer.data(), static_cast<int>(answer.size()));
            SSL_shutdown(ssl);
        }
    }
    SSL_free(ssl);
    ERR_clear_error();
}

} // namespace brindell::test
