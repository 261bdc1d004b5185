#pragma once

#include "mixer/MixerViewModel.h"
#include "shell/PanelWidgets.h"
#include "shell/VolumeSlider.h"

#include <QWidget>
#include <memory>

class QLabel;

namespace brindell {

// The system output at the top of the panel: its device menu, its mute button and volume
// slider when the device has them, or a note that it has no software volume. Main thread only;
// the model outlives it.
class MasterSection : public QWidget {
    Q_OBJECT
public:
    MasterSection(std::shared_ptr<MixerViewModel> model, const PanelTheme* theme,
                  QWidget* parent = nullptr);

    // Reads the model's master state and outputs.
    void refresh();
    void setKeyboardCursor(bool on);
    void applyTheme();

    MenuButton* deviceMenu() const { return device_; }
    IconToggleButton* muteButton() const { return mute_; }
    VolumeSlider* slider() const { return slider_; }
    QWidget* volumeLine() const { return volumeLine_; }
    QLabel* noVolumeNote() const { return noVolume_; }
    qreal volumeLineOpacity() const { return slider_->opacity(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::shared_ptr<MixerViewModel> model_;
    const PanelTheme* theme_;
    bool cursor_ = false;

    Decoration* tile_;
    QLabel* caption_;
    MenuButton* device_;
    IconToggleButton* mute_;
    QWidget* volumeLine_;
    Decoration* quiet_;
    VolumeSlider* slider_;
    Decoration* loud_;
    QLabel* noVolume_;
};

} // namespace brindell
