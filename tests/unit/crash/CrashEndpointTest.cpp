#include "crash/CrashEndpoint.h"

#include <gtest/gtest.h>

namespace brindell {
namespace {

TEST(CrashEndpoint, AcceptsOnlyHttpsURLsWithAHost) {
    for (const char* good :
         {"https://crash.example.org/v1/crash", "HTTPS://crash.example.org/v1/crash",
          "https://127.0.0.1:8443/v1/crash", "https://[::1]:8443/v1/crash",
          "https://intake.example.org"}) {
        EXPECT_EQ(crashIntakeEndpoint(good), std::string(good)) << good;
    }
    for (const char* bad :
         {"", "crash.example.org/v1/crash", "http://crash.example.org/v1/crash",
          "https:///v1/crash", "https://user@/v1/crash", "https://crash.example.org/v1/crash ",
          "https://crash example.org/v1/crash", "https://crash.example.org/\n",
          "https://cr\xc3\xa4sh.example.org/"}) {
        EXPECT_EQ(crashIntakeEndpoint(bad), std::nullopt) << bad;
    }
}

} // namespace
} // namespace brindell
