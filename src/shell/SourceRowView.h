#pragma once

#include "mixer/MixerViewModel.h"
#include "shell/PanelWidgets.h"
#include "shell/VolumeSlider.h"

#include <QIcon>
#include <QWidget>
#include <memory>

class QGraphicsOpacityEffect;
class QLabel;
class QPropertyAnimation;

namespace brindell {

// One application row: icon, name, output menu, mute button, volume slider and status line.
// It follows its MixerRow (setRow) and its VolumeBox, and sends the user's actions to the view
// model. Main thread only; the model outlives it.
class SourceRowView : public QWidget {
    Q_OBJECT
public:
    SourceRowView(std::shared_ptr<MixerViewModel> model, const PanelTheme* theme,
                  const MixerRow& row, QWidget* parent = nullptr);
    ~SourceRowView() override;

    pid_type pid() const { return row_.pid; }
    const MixerRow& row() const { return row_; }
    void setRow(const MixerRow& row);
    // The output names or the default output's name changed.
    void refreshOutputs();
    // The app's live level from the model; drawn only while the row is at ok and not muted.
    void setLevel(float level);
    void setKeyboardCursor(bool on);
    bool keyboardCursor() const { return cursor_; }
    void applyTheme();
    // Fades the row in over 0.2 seconds, to the opacity it should have.
    void animateIn();

    // The whole row's opacity: 0.55 while the app is not playing.
    qreal rowOpacity() const;
    // The current output's text: "System Default", the output's name, or "Output not
    // connected".
    QString outputText() const;

    VolumeSlider* slider() const { return slider_; }
    IconToggleButton* muteButton() const { return mute_; }
    MenuButton* outputMenu() const { return output_; }
    SymbolTextLabel* statusLine() const { return status_; }
    // The context menu, as a right click would show it.
    std::unique_ptr<QMenu> makeContextMenu();

protected:
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void updateContent();
    void updateOpacity();
    QIcon loadIcon() const;

    std::shared_ptr<MixerViewModel> model_;
    const PanelTheme* theme_;
    MixerRow row_;
    std::shared_ptr<VolumeBox> box_;
    Subscription boxSubscription_;
    bool cursor_ = false;
    float level_ = 0.0f;
    QIcon icon_;

    QLabel* name_;
    MenuButton* output_;
    IconToggleButton* mute_;
    VolumeSlider* slider_;
    SymbolTextLabel* status_;
    QGraphicsOpacityEffect* effect_ = nullptr;
    QPropertyAnimation* fade_ = nullptr;
};

} // namespace brindell
