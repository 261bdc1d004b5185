#include "UiTestSupport.h"

#include <QApplication>

namespace brindell::testing {

bool waitFor(const std::function<bool()>& condition, int watchdogMs) {
    return waitUntil(
        [&] {
            QApplication::processEvents(QEventLoop::AllEvents, 20);
            return condition();
        },
        std::chrono::milliseconds(watchdogMs), std::chrono::milliseconds(1));
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

} // namespace brindell::testing
