#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace brindell {

// Keeps one subscription alive; destroying or resetting it unsubscribes. Outliving the
// publisher is harmless. Move-only.
class Subscription {
public:
    Subscription() = default;
    explicit Subscription(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
    ~Subscription() { reset(); }
    Subscription(Subscription&& other) noexcept : cancel_(std::exchange(other.cancel_, nullptr)) {}
    Subscription& operator=(Subscription&& other) noexcept {
        if (this != &other) {
            reset();
            cancel_ = std::exchange(other.cancel_, nullptr);
        }
        return *this;
    }
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;

    void reset() {
        if (auto cancel = std::exchange(cancel_, nullptr)) {
            cancel();
        }
    }

private:
    std::function<void()> cancel_;
};

// A value that tells its subscribers about every assignment, equal values included, so that a
// view redraws and a watcher re-derives what it needs. Subscribers may subscribe, unsubscribe
// or assign again from inside a notification; one removed meanwhile is not called.
//
// Threading: confined to one thread (the main thread for the view model's values).
template <class T> class Published {
public:
    using Handler = std::function<void(const T&)>;

    explicit Published(T initial = T{}) : value_(std::move(initial)) {}
    Published(const Published&) = delete;
    Published& operator=(const Published&) = delete;

    const T& get() const { return value_; }
    const T& operator*() const { return value_; }
    const T* operator->() const { return &value_; }

    void set(T value) {
        value_ = std::move(value);
        notify();
    }

    // Changes the value in place, then notifies once.
    template <class Change> void modify(Change&& change) {
        std::forward<Change>(change)(value_);
        notify();
    }

    // The handler is called on every later assignment, not with the current value.
    [[nodiscard]] Subscription subscribe(Handler handler) {
        const std::uint64_t id = subscribers_->next++;
        subscribers_->entries.push_back({id, std::make_shared<Handler>(std::move(handler))});
        std::weak_ptr<Subscribers> weak = subscribers_;
        return Subscription([weak, id] {
            if (auto subscribers = weak.lock()) {
                auto& entries = subscribers->entries;
                entries.erase(std::remove_if(entries.begin(), entries.end(),
                                             [id](const Entry& entry) { return entry.id == id; }),
                              entries.end());
            }
        });
    }

    std::size_t subscriberCount() const { return subscribers_->entries.size(); }

private:
    struct Entry {
        std::uint64_t id;
        std::shared_ptr<Handler> handler;
    };
    struct Subscribers {
        std::vector<Entry> entries;
        std::uint64_t next = 0;
    };

    void notify() {
        // The subscribers as they stand now; each is looked up again before its call, since an
        // earlier one may have removed it.
        std::vector<std::uint64_t> ids;
        ids.reserve(subscribers_->entries.size());
        for (const auto& entry : subscribers_->entries) {
            ids.push_back(entry.id);
        }
        const auto keepAlive = subscribers_;
        for (const auto id : ids) {
            const auto& entries = keepAlive->entries;
            const auto found = std::find_if(entries.begin(), entries.end(),
                                            [id](const Entry& entry) { return entry.id == id; });
            if (found != entries.end()) {
                const auto handler = found->handler;
                (*handler)(value_);
            }
        }
    }

    T value_;
    std::shared_ptr<Subscribers> subscribers_ = std::make_shared<Subscribers>();
};

// The volume one row's slider shows. The view model keeps one per row so that a slider can
// follow it without the row list being rebuilt. Main thread only.
class VolumeBox {
public:
    explicit VolumeBox(float value) : value_(value) {}

    float value() const { return value_.get(); }
    void setValue(float value) { value_.set(value); }
    [[nodiscard]] Subscription subscribe(std::function<void(float)> handler) {
        return value_.subscribe([handler = std::move(handler)](const float& v) { handler(v); });
    }

private:
    Published<float> value_;
};

} // namespace brindell
