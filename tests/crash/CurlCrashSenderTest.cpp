#include "crash/curl/CurlCrashSender.h"

#include "HttpsTestServer.h"
#include "support/TestSupport.h"

#include <future>
#include <gtest/gtest.h>

namespace brindell {
namespace {

using namespace std::chrono_literals;
using test::HttpsTestServer;

Blob bytes(const std::string& text) {
    return Blob(text.begin(), text.end());
}

struct CurlCrashSenderTest : ::testing::Test {
    testing::TempFolder folder;
    HttpsTestServer server{folder.root()};

    CurlCrashSender sender(double requestTimeout = 60) {
        return CurlCrashSender({server.url(), server.caFile().string(), requestTimeout, 20});
    }
};

TEST_F(CurlCrashSenderTest, PostsJSONAcceptingEvery2xxWithoutKeepingCookiesAndRejectingTheRest) {
    server.script({200, 201, 299, 404, 500, 302});
    auto client = sender();
    const std::string bodies[] = {R"({"v":1})", R"({"v":2})", std::string(5000, 'x')};
    for (const auto& body : bodies) {
        EXPECT_NO_THROW(client.send(bytes(body)));
    }
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const auto& request = requests[i];
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.target, "/v1/crash");
        EXPECT_EQ(request.headers.at("content-type"), "application/json");
        EXPECT_EQ(request.body, bodies[i]);
        // Every answer set a cookie; none is sent back. Nothing asks to continue either.
        EXPECT_EQ(request.headers.count("cookie"), 0u);
        EXPECT_EQ(request.headers.count("expect"), 0u);
    }

    for (int status : {404, 500, 302}) {
        try {
            client.send(bytes("{}"));
            ADD_FAILURE() << status << " accepted";
        } catch (const SendError& e) {
            EXPECT_EQ(e, SendError::rejected(status));
            EXPECT_EQ(e.text(), "rejected(" + std::to_string(status) + ")");
        }
    }
    // The redirect was not followed: the report goes to the configured endpoint or nowhere.
    EXPECT_EQ(server.requests().size(), 6u);
}

TEST_F(CurlCrashSenderTest, PlainHttpIsRefusedAndAnUntrustedOrAbsentServerIsATransportError) {
    EXPECT_THROW(CurlCrashSender({"http://127.0.0.1/v1/crash", std::nullopt, 60, 20}),
                 std::invalid_argument);
    CurlCrashSender systemTrust({server.url(), std::nullopt, 60, 20});
    EXPECT_THROW(systemTrust.send(bytes("{}")), CrashTransportError);
    EXPECT_TRUE(server.requests().empty());
    EXPECT_TRUE(testing::waitUntil([&] { return server.failedHandshakes() >= 1; }));
    // Nor does the certificate pass for another name than the one it was made for.
    CurlCrashSender otherName({"https://localhost:" + std::to_string(server.port()) + "/v1/crash",
                               server.caFile().string(), 60, 20});
    EXPECT_THROW(otherName.send(bytes("{}")), CrashTransportError);
    EXPECT_TRUE(server.requests().empty());
    // Port 1 is privileged and unused: nobody listens there.
    CurlCrashSender nobody({"https://127.0.0.1:1/v1/crash", server.caFile().string(), 60, 20});
    EXPECT_THROW(nobody.send(bytes("{}")), CrashTransportError);
}

TEST_F(CurlCrashSenderTest, ASendWithoutAnswerEndsWhenCancelledOrAtTheRequestLimit) {
    server.setSilent(true);
    auto client = sender();
    auto sending = std::async(std::launch::async, [&] { client.send(bytes("{}")); });
    ASSERT_TRUE(server.waitForRequests(1, 10s));
    client.cancel();
    ASSERT_EQ(sending.wait_for(10s), std::future_status::ready); // watchdog: not the 60 s limit
    EXPECT_THROW(sending.get(), CrashTransportError);
    EXPECT_THROW(client.send(bytes("{}")), CrashTransportError); // and every later send
    EXPECT_EQ(server.requests().size(), 1u);

    auto limited = sender(0.5);
    sending = std::async(std::launch::async, [&] { limited.send(bytes("{}")); });
    ASSERT_EQ(sending.wait_for(20s), std::future_status::ready);
    EXPECT_THROW(sending.get(), CrashTransportError);
}

} // namespace
} // namespace brindell
