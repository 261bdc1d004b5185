#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <functional>

namespace brindell {

// One Brindell per user session. The first instance owns the session-bus name derived from the
// application id and answers org.freedesktop.Application on /com/quorvel/taskor/brindell; a
// later launch finds the name taken, asks the owner to Activate (it opens its settings window) and
// exits. An owner that does not answer in time still owns the name, so the later launch exits
// too rather than run a second engine beside it. Without a session bus, every launch runs on its
// own.
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
        unanswered, // another instance owns it but did not answer: exit with problem()
        standalone, // no session bus, or the bus gives the name to no one: run alone
    };

    // How long a later launch waits for the owner's answer.
    static constexpr int defaultAnswerTimeoutMs = 5000;

    // bus: the session bus, or another connection for tests.
    explicit SingleInstance(QDBusConnection bus, QObject* parent = nullptr,
                            int answerTimeoutMs = defaultAnswerTimeoutMs);
    ~SingleInstance() override;

    // Claims the name, or hands over to its owner.
    Role claim();
    Role role() const { return role_; }

    std::function<void()> onActivate = [] {};
    // A sentence for the user when the role is unanswered or the name could not be had;
    // empty otherwise.
    const QString& problem() const { return problem_; }

private:
    enum class Answer { answered, ownerGone, none };
    Answer callOwner();

    QDBusConnection bus_;
    int answerTimeoutMs_;
    Role role_ = Role::standalone;
    QString problem_;
};

} // namespace brindell
