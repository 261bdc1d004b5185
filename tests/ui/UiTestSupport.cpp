#include "UiTestSupport.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QThread>
#include <csignal>
#include <sys/wait.h>

namespace brindell::testing {

bool waitFor(const std::function<bool()>& condition, int watchdogMs) {
    QDeadlineTimer deadline(watchdogMs);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}

void settle() {
    for (int i = 0; i < 4; ++i) {
        QApplication::sendPostedEvents();
        QApplication::processEvents();
    }
}

PreviewMixer::PreviewMixer(MixerSnapshot snapshot, MixerViewOptions options, Appearance appearance)
    : engine(std::make_shared<PreviewMixerEngine>(std::move(snapshot))),
      model(MixerViewModel::create(engine, mainQueue)),
      view(std::make_unique<MixerView>(model, appearance, std::move(options))) {
    view->show();
    settle();
}

PreviewMixer::~PreviewMixer() {
    view.reset();
    settle(); // deferred deletions of rows
}

void PreviewMixer::engineChangesRow(pid_type pid, const std::function<void(MixerRow&)>& change) {
    MixerSnapshot s = engine->current();
    for (auto& row : s.rows) {
        if (row.pid == pid) {
            change(row);
        }
    }
    engine->publish(s);
}

PrivateBus::PrivateBus() {
    QProcess daemon;
    daemon.setProgram(QStringLiteral("dbus-daemon"));
    daemon.setArguments({QStringLiteral("--session"), QStringLiteral("--fork"),
                         QStringLiteral("--print-address=1"), QStringLiteral("--print-pid=1")});
    daemon.start();
    if (!daemon.waitForFinished(10000) || daemon.exitCode() != 0) {
        return;
    }
    const QStringList lines =
        QString::fromLocal8Bit(daemon.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    if (lines.size() >= 2) {
        address_ = lines.at(0).trimmed();
        pid_ = lines.at(1).trimmed().toLongLong();
    }
}

PrivateBus::~PrivateBus() {
    if (pid_ > 0) {
        ::kill(static_cast<pid_t>(pid_), SIGTERM);
        // The forked daemon is not our child; wait until it is gone.
        QDeadlineTimer deadline(5000);
        while (::kill(static_cast<pid_t>(pid_), 0) == 0 && !deadline.hasExpired()) {
            QThread::msleep(10);
        }
    }
}

} // namespace brindell::testing
