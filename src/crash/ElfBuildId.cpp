#include "crash/ElfBuildId.h"

#include <cstring>

namespace brindell {
namespace {

constexpr std::uint32_t gnuBuildIdType = 3; // NT_GNU_BUILD_ID

std::uint32_t readWord(const std::uint8_t* at) {
    std::uint32_t word = 0;
    std::memcpy(&word, at, sizeof word); // notes are in the loaded image's own byte order
    return word;
}

// Rounds up to the alignment; false when that would pass limit.
bool alignUp(std::size_t& value, std::size_t alignment, std::size_t limit) {
    const std::size_t rest = value % alignment;
    if (rest != 0) {
        if (alignment - rest > limit - value) {
            return false;
        }
        value += alignment - rest;
    }
    return value <= limit;
}

} // namespace

std::span<const std::uint8_t> findGnuBuildId(const std::uint8_t* notes, std::size_t size,
                                             std::size_t alignment) {
    if (notes == nullptr) {
        return {};
    }
    alignment = alignment == 8 ? 8 : 4;
    std::size_t at = 0;
    while (size - at >= 12) {
        const std::uint32_t nameSize = readWord(notes + at);
        const std::uint32_t descSize = readWord(notes + at + 4);
        const std::uint32_t type = readWord(notes + at + 8);
        std::size_t name = at + 12;
        std::size_t desc = name;
        if (nameSize > size - desc) {
            return {};
        }
        desc += nameSize;
        if (!alignUp(desc, alignment, size) || descSize > size - desc) {
            return {};
        }
        if (type == gnuBuildIdType && nameSize == 4 && std::memcmp(notes + name, "GNU", 4) == 0) {
            return {notes + desc, descSize};
        }
        std::size_t next = desc + descSize;
        if (!alignUp(next, alignment, size) || next <= at) {
            return {};
        }
        at = next;
    }
    return {};
}

bool formatBuildIdUUID(std::span<const std::uint8_t> buildId, char (&uuid)[37]) {
    static const char digits[] = "0123456789ABCDEF";
    if (buildId.empty()) {
        uuid[0] = '\0';
        return false;
    }
    std::size_t out = 0;
    for (std::size_t i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            uuid[out++] = '-';
        }
        const std::uint8_t byte = i < buildId.size() ? buildId[i] : 0;
        uuid[out++] = digits[byte >> 4];
        uuid[out++] = digits[byte & 0xf];
    }
    uuid[out] = '\0';
    return true;
}

} // namespace brindell
