#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace brindell {

// The GNU build-id (NT_GNU_BUILD_ID, owner "GNU") in a loaded ELF note area, such as a PT_NOTE
// segment; empty when there is none or the notes are malformed. alignment is the segment's
// p_align (4 or 8). Reads only within [notes, notes + size). Async-signal-safe.
std::span<const std::uint8_t> findGnuBuildId(const std::uint8_t* notes, std::size_t size,
                                             std::size_t alignment);

// Writes the first 16 bytes of a build-id as an upper-case UUID, 8-4-4-4-12, and a NUL: 37
// chars. A shorter id is padded with zero bytes. False, writing "", for an empty id.
// Async-signal-safe.
bool formatBuildIdUUID(std::span<const std::uint8_t> buildId, char (&uuid)[37]);

} // namespace brindell
