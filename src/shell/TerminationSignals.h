#pragma once

#include <QObject>

class QSocketNotifier;

namespace brindell {

// SIGTERM (the end of the desktop session, systemd, kill), SIGINT (Ctrl+C) and SIGHUP (the
// terminal or session hung up) become a quit request on the main thread, so the application's
// normal termination path runs. The handler only writes to a pipe; everything else happens on
// the event loop. One per process.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

signals:
    void received(int signal);

private:
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace brindell
