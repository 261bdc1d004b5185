#include "mixer/MixerViewModel.h"
#include "mixer/PreviewMixerEngine.h"
#include "queue/ThreadQueue.h"

#include <gtest/gtest.h>

namespace brindell {
namespace {

// An engine as the live one behaves towards the view model: confined to its own serial queue,
// every action only submitted there, the snapshot read by waiting for it, and the change
// callback called there.
class QueuedEngine final : public MixerEngine {
public:
    explicit QueuedEngine(std::shared_ptr<SerialQueue> queue) : queue_(std::move(queue)) {}

    void setOnChange(ChangeCallback callback) override {
        queue_->sync([&] { inner_.setOnChange(std::move(callback)); });
    }
    MixerSnapshot snapshot() override {
        MixerSnapshot result;
        EXPECT_TRUE(queue_->sync([&] { result = inner_.snapshot(); }));
        return result;
    }
    void setVolume(pid_type pid, float v) override {
        run([=](auto& e) { e.setVolume(pid, v); });
    }
    void setMuted(pid_type pid, bool m) override {
        run([=](auto& e) { e.setMuted(pid, m); });
    }
    void setOutput(pid_type pid, std::optional<std::string> uid) override {
        run([=](auto& e) { e.setOutput(pid, uid); });
    }
    void setMasterVolume(float v) override {
        run([=](auto& e) { e.setMasterVolume(v); });
    }
    void setMasterMuted(bool m) override {
        run([=](auto& e) { e.setMasterMuted(m); });
    }
    void setDefaultOutput(std::string uid) override {
        run([=](auto& e) { e.setDefaultOutput(uid); });
    }
    void beginInteraction(pid_type pid) override {
        run([=](auto& e) { e.beginInteraction(pid); });
    }
    void endInteraction() override {
        run([](auto& e) { e.endInteraction(); });
    }
    void forgetSettings(std::string id) override {
        run([=](auto& e) { e.forgetSettings(id); });
    }
    void forgetAllSettings() override {
        run([](auto& e) { e.forgetAllSettings(); });
    }
    void recheckPermission() override {
        run([](auto& e) { e.recheckPermission(); });
    }

    // The audio side changes on its own.
    void publish(std::function<void(MixerSnapshot&)> change) {
        run([change = std::move(change)](PreviewMixerEngine& e) {
            MixerSnapshot s = e.current();
            change(s);
            e.publish(s);
        });
    }

private:
    template <class Work> void run(Work work) {
        queue_->async([this, work = std::move(work)] { work(inner_); });
    }

    std::shared_ptr<SerialQueue> queue_;
    PreviewMixerEngine inner_;
};

TEST(MixerViewModelThreads, ModelSettlesOnTheEngineStateWhileBothSidesChange) {
    auto mainQueue = std::make_shared<ThreadQueue>("main");
    auto engineQueue = std::make_shared<ThreadQueue>("com.quorvel.taskor.brindell.mixer");
    auto engine = std::make_shared<QueuedEngine>(engineQueue);
    std::shared_ptr<MixerViewModel> model;
    ASSERT_TRUE(mainQueue->sync([&] { model = MixerViewModel::create(engine, mainQueue); }));

    for (int i = 0; i < 200; ++i) {
        mainQueue->async([model, i] {
            model->handleKey(KeyAction::down, false, false);
            model->setVolume(1, static_cast<float>(i % 10) / 10.0f);
            model->setDragging(2, i % 2 == 0);
            model->handleKey(KeyAction::mute, false, false);
        });
        engine->publish([i](MixerSnapshot& s) {
            s.rows[3].volume = static_cast<float>(i) / 200.0f;
            s.permission = i % 3 == 0 ? PermissionState::granted : PermissionState::unknown;
        });
    }
    mainQueue->async([model] { model->setDragging(2, false); });

    // Let both queues drain, then one more refresh on the main queue sees the final state.
    ASSERT_TRUE(mainQueue->sync([] {}));
    ASSERT_TRUE(engineQueue->sync([] {}));
    ASSERT_TRUE(mainQueue->sync([] {}));
    MixerSnapshot final = engine->snapshot();
    ASSERT_TRUE(mainQueue->sync([&] {
        model->refresh();
        EXPECT_EQ(model->rows.get(), final.rows);
        EXPECT_EQ(model->permission.get(), final.permission);
        EXPECT_EQ(model->volumeBox(4)->value(), final.rows[3].volume);
        EXPECT_FALSE(model->draggingPID());
    }));
    ASSERT_TRUE(mainQueue->sync([&] { model.reset(); }));
}

} // namespace
} // namespace brindell
