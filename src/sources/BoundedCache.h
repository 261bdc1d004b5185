#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

namespace brindell {

// A map that keeps at most `limit` entries and forgets the least recently used one first.
// Invariant after every operation: every key in order() is in the map, and order() holds at
// most limit keys. Not thread-safe; small by design (a lookup moves its key in a plain list).
template <typename Key, typename Value, typename Hash = std::hash<Key>> class BoundedCache {
public:
    explicit BoundedCache(std::int64_t limit) : limit_(limit) {}

    // A hit makes the key the most recently used.
    std::optional<Value> get(const Key& key) {
        const auto found = values_.find(key);
        if (found == values_.end()) {
            return std::nullopt;
        }
        touch(key);
        return found->second;
    }

    // With no value the key is forgotten; with one it is stored as the most recently used, and
    // the least recently used keys go while there are more than limit.
    void set(const Key& key, std::optional<Value> value) {
        if (!value) {
            values_.erase(key);
            order_.erase(std::remove(order_.begin(), order_.end(), key), order_.end());
            return;
        }
        values_.insert_or_assign(key, std::move(*value));
        touch(key);
        while (static_cast<std::int64_t>(order_.size()) > limit_) {
            values_.erase(order_.front());
            order_.erase(order_.begin());
        }
    }

    std::int64_t limit() const { return limit_; }
    std::size_t size() const { return values_.size(); }
    bool contains(const Key& key) const { return values_.contains(key); }
    // Least recently used first.
    const std::vector<Key>& order() const { return order_; }

private:
    void touch(const Key& key) {
        order_.erase(std::remove(order_.begin(), order_.end(), key), order_.end());
        order_.push_back(key);
    }

    std::int64_t limit_;
    std::unordered_map<Key, Value, Hash> values_;
    std::vector<Key> order_;
};

} // namespace brindell
