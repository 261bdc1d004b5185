// Feeds arbitrary bytes to the per-app settings store as its stored document and checks what
// must hold for any input: no crash, the table's invariants, an unreadable document giving the
// empty writable table, and a written document reading back to the same table and text.

#include "FuzzRequire.h"
#include "settings/AppSettingsStore.h"
#include "settings/fake/MemorySettingsStorage.h"

#include <cmath>
#include <cstdint>
#include <memory>
#include <string_view>

namespace {

using namespace brindell;

void checkTable(const AppSettingsStore& store) {
    for (const auto& [bundleID, setting] : store.apps()) {
        require(!bundleID.empty(), "no empty identifier");
        require(!setting.isDefault(), "no default entry");
        require(!std::isnan(setting.volume) && setting.volume >= 0.0f && setting.volume <= 1.0f,
                "volume within 0...1");
        require(!std::signbit(setting.volume), "no negative zero");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto storage = std::make_shared<MemorySettingsStorage>();
    storage->set(Blob(data, data + size));
    AppSettingsStore store(storage);
    checkTable(store);
    require(!store.dirty() && storage->saves == 0, "loading writes nothing");

    const auto decoded =
        AppSettingsStore::File::decode(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!decoded) {
        require(store.apps().empty() && !store.isReadOnly(), "unreadable: empty and writable");
    }
    if (store.isReadOnly()) {
        require(decoded && decoded->version >= 2, "read-only only for a newer version");
        require(store.apps().empty(), "read-only starts empty");
        store.flush();
        require(storage->saves == 0, "read-only writes nothing");
        return 0;
    }

    // Whatever was read, what is written reads back to the same table and the same text.
    store.flush();
    const auto written = storage->text();
    require(written.has_value(), "flush writes");
    auto again = std::make_shared<MemorySettingsStorage>(*written);
    AppSettingsStore reloaded(again);
    require(!reloaded.isReadOnly(), "own document is writable");
    require(reloaded.apps() == store.apps(), "written table reads back the same");
    reloaded.flush();
    require(again->text() == written, "written text is stable");
    return 0;
}
