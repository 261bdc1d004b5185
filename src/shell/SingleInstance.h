#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <functional>

namespace brindell {

// One Brindell per user session. The first instance owns the session-bus name derived from the
// application id and answers org.freedesktop.Application on /com/quorvel/taskor/brindell; a
// later launch finds the name taken, asks the owner to Activate (it opens its settings window) and
// exits. Without a session bus, every launch runs on its own.
//
// Threading: main thread only.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    static constexpr const char* serviceName = "com.quorvel.taskor.brindell";
    static constexpr const char* objectPath = "/com/quorvel/taskor/brindell";

    enum class Role {
        primary,    // owns the name; onActivate runs for every later launch
        handedOver, // another instance owns it and has been asked to activate: exit now
        standalone, // no session bus: run alone
    };

    // bus: the session bus, or another connection for tests.
    explicit SingleInstance(QDBusConnection bus, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Claims the name, or hands over to its owner.
    Role claim();
    Role role() const { return role_; }

    std::function<void()> onActivate = [] {};
    // An error for the user when a hand-over failed; empty otherwise.
    const QString& problem() const { return problem_; }

private:
    bool callOwner();

    QDBusConnection bus_;
    Role role_ = Role::standalone;
    QString problem_;
};

} // namespace brindell
