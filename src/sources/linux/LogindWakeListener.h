#pragma once

#include <QDBusConnection>
#include <QObject>
#include <functional>

namespace brindell {

// Hears logind's PrepareForSleep on a bus and calls onWake when it reports the end of a sleep
// (false). Lives on the thread that created it; onWake runs there.
class LogindWakeListener final : public QObject {
    Q_OBJECT

public:
    LogindWakeListener(QDBusConnection bus, std::function<void()> onWake);
    ~LogindWakeListener() override;

    bool isListening() const { return listening_; }

public slots:
    void prepareForSleep(bool starting);

private:
    QDBusConnection bus_;
    std::function<void()> onWake_;
    bool listening_ = false;
};

} // namespace brindell
