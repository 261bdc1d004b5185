#pragma once

#include "shell/PanelTheme.h"
#include "updates/BuildMarker.h"

#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QCheckBox;
class QLabel;
class QPushButton;
class QToolButton;
class QVBoxLayout;

namespace brindell {

class CrashController;
class HotkeyRecorderModel;
class LaunchAtLoginModel;
class UpdateController;

// The models the settings window reads and writes; it owns no setting itself.
struct SettingsModels {
    std::shared_ptr<HotkeyRecorderModel> recorder;
    std::shared_ptr<LaunchAtLoginModel> launchAtLogin;
    std::shared_ptr<UpdateController> updates;
    std::shared_ptr<CrashController> crash;
};

// What the shell hands the settings window beside the models.
struct SettingsViewOptions {
    // Whether the tray icon is shown when the window is first built.
    bool showIcon = true;
    // Shows or hides the tray icon (the status item keeps the choice).
    std::function<void(bool visible)> setIconVisible = [](bool) {};
    // The application's version, after "Brindell ".
    std::string version;
    std::optional<BuildMarker> marker;
    // The privacy statement; the link shows only for an https address.
    std::optional<std::string> privacyStatementURL;
    // Opens the desktop's login-item settings (only offered while approval is needed).
    std::function<void()> openLoginItems = [] {};
    // Whether the desktop itself must bind the shortcut (a session where Brindell cannot grab
    // keys and holds none); asked again on every change of the recorder.
    std::function<bool()> desktopBindsShortcut = [] { return false; };
    // The binding the desktop reports for the shortcut where the desktop binds it (the
    // GlobalShortcuts portal); none shows the recorded combination.
    std::function<std::optional<std::string>()> desktopTrigger = [] {
        return std::optional<std::string>();
    };
    // Opens the mixer panel: the way in where the desktop has no tray and no shortcut.
    std::function<void()> showMixer = [] {};
};

// The command a desktop shortcut runs to open and close the mixer panel.
inline constexpr const char* panelToggleCommand = "brindell ctl toggle";

// The content of the "Brindell Settings" window: a grouped form with the sections "Shortcut",
// "Menu bar", "Startup", "Updates" and, when crash reporting is available, "Privacy". Built once
// and kept for the life of the process; 420 wide and 780 high with the privacy section, 640
// without.
//
// Threading: main thread only. Ownership: shares the models with the shell; each model's change
// callback is set to refresh this view and does nothing once the view is gone.
class SettingsView : public QWidget {
    Q_OBJECT
public:
    static constexpr int fixedWidth = 420;
    static constexpr int heightWithPrivacy = 780;
    static constexpr int heightWithoutPrivacy = 640;

    SettingsView(SettingsModels models, SettingsViewOptions options, Appearance appearance,
                 QWidget* parent = nullptr);
    ~SettingsView() override;

    void setAppearance(Appearance appearance);

    // The controls, for the shell's tests and the snapshot.
    QPushButton* recordButton() const { return recordButton_; }
    QPushButton* defaultButton() const { return defaultButton_; }
    QLabel* shortcutLabel() const { return shortcutLabel_; }
    // The recorder's message; hidden while it has none.
    QLabel* shortcutMessage() const { return shortcutMessage_; }
    QLabel* desktopShortcutHint() const { return desktopHint_; }
    QPushButton* showMixerButton() const { return showMixerButton_; }
    QCheckBox* iconToggle() const { return iconToggle_; }
    QLabel* iconCaption() const { return iconCaption_; }
    QCheckBox* loginToggle() const { return loginToggle_; }
    QLabel* loginMessage() const { return loginMessage_; }
    QPushButton* loginItemsButton() const { return loginItemsButton_; }
    QLabel* versionLabel() const { return versionLabel_; }
    QLabel* noUpdatesLabel() const { return noUpdatesLabel_; }
    QCheckBox* automaticChecksToggle() const { return automaticChecks_; }
    QPushButton* checkForUpdatesButton() const { return checkButton_; }
    // The privacy section and its controls; null without crash reporting.
    QWidget* privacySection() const { return privacySection_; }
    QCheckBox* crashToggle() const { return crashToggle_; }
    QLabel* crashCaption() const { return crashCaption_; }
    QToolButton* sampleDisclosure() const { return sampleDisclosure_; }
    QLabel* sampleText() const { return sampleText_; }
    QLabel* privacyLink() const { return privacyLink_; }
    // The section headers in order.
    QStringList sectionHeaders() const;

    // Re-reads every model (each model's change callback runs this).
    void refresh();

private:
    QWidget* addSection(const QString& header);
    QLabel* addCaption(QWidget* section, const QString& text);
    void buildShortcut();
    void buildMenuBar();
    void buildStartup();
    void buildUpdates();
    void buildPrivacy();
    void applyTheme();

    SettingsModels models_;
    SettingsViewOptions options_;
    PanelTheme theme_;
    bool showIcon_;
    bool showSample_ = false;

    QVBoxLayout* form_ = nullptr;
    QList<QLabel*> headers_;
    QList<QLabel*> captions_; // secondary colour, caption size
    QPushButton* recordButton_ = nullptr;
    QPushButton* defaultButton_ = nullptr;
    QLabel* shortcutLabel_ = nullptr;
    QLabel* shortcutMessage_ = nullptr;
    QLabel* desktopHint_ = nullptr;
    QPushButton* showMixerButton_ = nullptr;
    QCheckBox* iconToggle_ = nullptr;
    QLabel* iconCaption_ = nullptr;
    QCheckBox* loginToggle_ = nullptr;
    QLabel* loginMessage_ = nullptr;
    QPushButton* loginItemsButton_ = nullptr;
    QLabel* versionLabel_ = nullptr;
    QLabel* markerBadge_ = nullptr;
    QLabel* markerHost_ = nullptr;
    QLabel* noUpdatesLabel_ = nullptr;
    QCheckBox* automaticChecks_ = nullptr;
    QPushButton* checkButton_ = nullptr;
    QWidget* privacySection_ = nullptr;
    QCheckBox* crashToggle_ = nullptr;
    QLabel* crashCaption_ = nullptr;
    QToolButton* sampleDisclosure_ = nullptr;
    QLabel* sampleText_ = nullptr;
    QLabel* privacyLink_ = nullptr;
};

// The Linux texts of the window that are built from parts.
QString menuBarHint(const QString& shortcut);
QString desktopShortcutHintText();

} // namespace brindell
