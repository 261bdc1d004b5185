#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace brindell {

// The information dictionary the build generates: string keys, any JSON values.
using InfoDictionary = nlohmann::json;

// Whether this build is set up to check for updates: an https feed and an Ed25519 public key.
struct UpdateConfig {
    std::string feedURL;
    std::string publicKey; // standard base64 of 32 bytes, as configured

    // None unless info is an object whose "SUFeedURL" is an https URL with a host and whose
    // "SUPublicEDKey" decodes as strict standard base64 to exactly 32 bytes.
    static std::optional<UpdateConfig> fromInfo(const std::optional<InfoDictionary>& info);

    friend bool operator==(const UpdateConfig&, const UpdateConfig&) = default;
};

// The parts of an absolute URL that the update checks need.
struct ParsedURL {
    std::string scheme;
    std::string host;
};

// Parses an absolute URL by RFC 3986: none for text that is no URL (spaces, control characters,
// bad percent escapes, a non-numeric port, characters a URL may not hold).
std::optional<ParsedURL> parseURL(const std::string& text);

// Decodes standard base64 with padding and without skipping any character; none otherwise.
std::optional<std::string> decodeBase64Strict(const std::string& text);

} // namespace brindell
