#include "updates/UpdateConfig.h"

#include "updates/InfoDictionary.h"

#include <gtest/gtest.h>
#include <regex>

namespace brindell {
namespace {

// 32 bytes, 33 bytes and 31 bytes in standard base64.
const std::string kKey32 = "MDEyMzQ1Njc4OWFiY2RlZjAxMjM0NTY3ODlhYmNkZWY=";
const std::string kKey33 = "MDEyMzQ1Njc4OWFiY2RlZjAxMjM0NTY3ODlhYmNkZWZn";
const std::string kKey31 = "MDEyMzQ1Njc4OWFiY2RlZjAxMjM0NTY3ODlhYmNkZQ==";

InfoDictionary info(const std::string& feed, const std::string& key) {
    return {{"SUFeedURL", feed}, {"SUPublicEDKey", key}, {"version", "1.0"}};
}

TEST(UpdateConfig, AnHttpsFeedWithAHostAndA32ByteKeyIsAConfiguration) {
    const auto config =
        UpdateConfig::fromInfo(info("https://updates.example.com/appcast.xml", kKey32));
    ASSERT_TRUE(config);
    EXPECT_EQ(config->feedURL, "https://updates.example.com/appcast.xml");
    EXPECT_EQ(config->publicKey, kKey32);
    EXPECT_TRUE(UpdateConfig::fromInfo(info("https://user@[::1]:8443/a?b=c#d", kKey32)));
    EXPECT_TRUE(UpdateConfig::fromInfo(info("https://ex%41mple.com/feed%20x", kKey32)));
}

TEST(UpdateConfig, FeedsThatAreNotHttpsWithAHostGiveNoConfiguration) {
    for (const std::string feed : {
             "http://updates.example.com/appcast.xml",
             "HTTPS://updates.example.com/appcast.xml", // the scheme must be exactly "https"
             "https:///appcast.xml",
             "https:updates.example.com/appcast.xml",
             "https://user@/appcast.xml",
             "updates.example.com/appcast.xml",
             "https://updates.example.com/app cast.xml",
             "https://updates.example.com:44x3/appcast.xml",
             "https://updates.example.com/%zz",
             "https://[::1/appcast.xml",
             "https://updates.example.com/\n",
         }) {
        EXPECT_FALSE(UpdateConfig::fromInfo(info(feed, kKey32))) << feed;
    }
}

TEST(UpdateConfig, KeysThatAreNotStrictBase64Of32BytesGiveNoConfiguration) {
    const std::string feed = "https://updates.example.com/appcast.xml";
    for (const std::string& key : {
             kKey33,
             kKey31,
             std::string("MDEyMzQ1Njc4OWFiY2RlZjAxMjM0NTY3ODlhYmNkZWY"), // no padding
             std::string(" ") + kKey32,
             kKey32.substr(0, 20) + "\n" + kKey32.substr(20),
             std::string("MDEyMzQ1Njc4OWFiY2RlZjAxMjM0NTY3ODlhYmNk-_Y="), // URL alphabet
             std::string("MDEy=zQ1Njc4OWFiY2RlZjAxMjM0NTY3ODlhYmNkZWY="),
         }) {
        EXPECT_FALSE(UpdateConfig::fromInfo(info(feed, key))) << key;
    }
    EXPECT_EQ(decodeBase64Strict(kKey32), "0123456789abcdef0123456789abcdef");
}

TEST(UpdateConfig, MissingOrMistypedEntriesGiveNoConfiguration) {
    const std::string feed = "https://updates.example.com/appcast.xml";
    EXPECT_FALSE(UpdateConfig::fromInfo(std::nullopt));
    EXPECT_FALSE(UpdateConfig::fromInfo(InfoDictionary::array({feed, kKey32})));
    EXPECT_FALSE(UpdateConfig::fromInfo(InfoDictionary{{"SUFeedURL", feed}}));
    EXPECT_FALSE(
        UpdateConfig::fromInfo(InfoDictionary{{"SUFeedURL", 42}, {"SUPublicEDKey", kKey32}}));
    EXPECT_FALSE(UpdateConfig::fromInfo(
        InfoDictionary{{"SUFeedURL", feed}, {"SUPublicEDKey", InfoDictionary::array()}}));
}

TEST(InfoDictionary, TheBuildDescribesItselfAndCarriesNoUpdateFeedByDefault) {
    const auto& dictionary = infoDictionary();
    EXPECT_EQ(infoDisplayName(), "Brindell");
    EXPECT_TRUE(std::regex_match(infoVersion(), std::regex(R"(\d+\.\d+\.\d+)"))) << infoVersion();
    ASSERT_TRUE(dictionary.contains("buildNumber"));
    EXPECT_TRUE(dictionary["buildNumber"].is_string());
    if (!dictionary.contains("SUFeedURL")) {
        EXPECT_FALSE(UpdateConfig::fromInfo(dictionary));
    }
}

} // namespace
} // namespace brindell
