#pragma once

#include "mixer/MixerViewModel.h"
#include "shell/PanelTheme.h"

#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QLabel;
class QScrollArea;
class QVBoxLayout;

namespace brindell {

class Divider;
class MasterSection;
class SourceRowView;

// A badge shown at the foot of the panel for special builds.
struct PanelBadge {
    std::string badge;
    std::string accessibilityLabel;
};

struct MixerViewOptions {
    // Snapshot renderings force these whatever the desktop says.
    bool forceReducedTransparency = false;
    bool forceIncreasedContrast = false;
    std::optional<PanelBadge> badge;
    // The gear button.
    std::function<void()> openSettings;
    // The permission banner's first button.
    std::function<void()> openSoundSettings;
};

// The permission banner: what to do when no audio reaches Brindell.
class PermissionBannerView : public QWidget {
    Q_OBJECT
public:
    PermissionBannerView(const PanelTheme* theme, std::function<void()> openSoundSettings,
                         std::function<void()> checkAgain, QWidget* parent = nullptr);
    void applyTheme();
    // The numbered steps as shown.
    QStringList stepTexts() const;

private:
    const PanelTheme* theme_;
    std::vector<QWidget*> texts_;
    std::vector<QLabel*> labels_;
    QWidget* buttons_[2];
};

// The content of the floating panel, 380 wide: the system output section, the permission
// banner while capture is likely denied, the application rows (the list grows up to 360 high,
// then scrolls), and a footer with "Reset all apps", the keyboard hint and the settings button.
// It draws its own rounded background. It follows the view model's published state and holds
// none of its own beyond the list height and hover flags.
//
// Threading: main thread only. Ownership: shares the model; Qt owns the child widgets.
class MixerView : public QWidget {
    Q_OBJECT
public:
    static constexpr int panelWidth = 380;
    static constexpr int maxListHeight = 360;
    static constexpr qreal cornerRadius = 16;

    MixerView(std::shared_ptr<MixerViewModel> model, Appearance desktop, MixerViewOptions options,
              QWidget* parent = nullptr);
    ~MixerView() override;

    // The desktop's appearance changed.
    void setAppearance(Appearance desktop);
    const PanelTheme& theme() const { return theme_; }
    bool opaqueBackground() const;

    // The height the view wants at the panel's width.
    int preferredHeight();

    // --- for tests and diagnostics -------------------------------------------------------
    MasterSection* masterSection() const { return master_; }
    PermissionBannerView* banner() const { return banner_; }
    QScrollArea* list() const { return list_; }
    QLabel* emptyNote() const { return empty_; }
    QLabel* hint() const { return hint_; }
    QWidget* footer() const { return footer_; }
    int listHeight() const { return listHeight_; }
    std::vector<SourceRowView*> rowViews() const;
    SourceRowView* rowView(pid_type pid) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    // Levels are read only while the view is on the screen.
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    Appearance effectiveAppearance(Appearance desktop) const;
    void applyTheme();
    void syncRows();
    void syncOutputs();
    void syncPermission();
    void syncKeyboardTarget();
    void syncLevels();
    void measureList();

    std::shared_ptr<MixerViewModel> model_;
    MixerViewOptions options_;
    PanelTheme theme_;
    std::vector<Subscription> subscriptions_;
    bool populated_ = false;

    QVBoxLayout* column_;
    MasterSection* master_;
    PermissionBannerView* banner_;
    Divider* bannerDivider_;
    QScrollArea* list_;
    QWidget* rowsContainer_;
    QVBoxLayout* rowsLayout_;
    QLabel* empty_;
    QWidget* footer_;
    QLabel* hint_;
    QLabel* badge_ = nullptr;
    std::map<pid_type, SourceRowView*> rows_;
    int listHeight_ = 0;
};

} // namespace brindell
