#include "hotkey/x11/X11HotkeyRegistrar.h"

#include <QObject>
#include <QSocketNotifier>

namespace brindell {

namespace {

class QtFdWatch final : public FdWatch {
public:
    QtFdWatch(int fd, std::function<void()> onReadable)
        : notifier_(fd, QSocketNotifier::Read), onReadable_(std::move(onReadable)) {
        QObject::connect(&notifier_, &QSocketNotifier::activated, &notifier_,
                         [this] { onReadable_(); });
    }

private:
    QSocketNotifier notifier_;
    std::function<void()> onReadable_;
};

} // namespace

WatchFd qtMainThreadFdWatch() {
    return [](int fd, std::function<void()> onReadable) -> std::unique_ptr<FdWatch> {
        return std::make_unique<QtFdWatch>(fd, std::move(onReadable));
    };
}

} // namespace brindell
