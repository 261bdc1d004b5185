#pragma once

#include "shell/PanelTheme.h"

#include <QWidget>
#include <array>
#include <functional>

class QCheckBox;
class QLabel;
class QPushButton;

namespace brindell {

// The content of the "Welcome to Brindell" window: what Brindell does with app audio, the first
// steps, the optional crash-report opt-in (off unless ticked) and "Continue", which Return also
// presses. 460 wide; as high as its content.
//
// Threading: main thread only. Ownership: owned by its window.
class OnboardingView : public QWidget {
    Q_OBJECT
public:
    static constexpr int fixedWidth = 460;

    struct Point {
        const char* symbol;
        const char* title;
        const char* detail;
    };
    static constexpr std::array<Point, 3> points{{
        {"speaker.wave.2", "It listens to app audio output",
         "To change one app's volume, Brindell taps the sound that app is playing before it "
         "reaches your speakers."},
        {"mic.slash", "It never uses the microphone",
         "Brindell does not ask for microphone access and cannot hear your surroundings."},
        {"lock", "Nothing is recorded or stored",
         "Audio passes straight through to your output. It is not saved, analysed or sent "
         "anywhere."},
    }};
    static constexpr std::array<const char*, 3> steps{
        "Press Continue.",
        "Play something in any app. It appears in the mixer.",
        "Move its slider. You hear the change at once.",
    };

    // offersCrashReports: show the opt-in (the crash controller's availability). onContinue gets
    // whether crash reports were ticked; false when the opt-in is not offered.
    OnboardingView(bool offersCrashReports, std::function<void(bool sendCrashReports)> onContinue,
                   Appearance appearance, QWidget* parent = nullptr);

    void setAppearance(Appearance appearance);

    // The opt-in toggle; null when not offered.
    QCheckBox* crashReportsToggle() const { return optIn_; }
    QPushButton* continueButton() const { return continue_; }
    // Every text of the view, top to bottom (for tests and the snapshot's description).
    QStringList texts() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void applyTheme();
    void pressContinue();

    bool offersCrashReports_;
    std::function<void(bool)> onContinue_;
    PanelTheme theme_;
    bool sendCrashReports_ = false;
    QLabel* title_ = nullptr;
    QList<QLabel*> pointTitles_;
    QList<QLabel*> secondaries_; // details and the opt-in caption
    QLabel* note_ = nullptr;
    QCheckBox* optIn_ = nullptr;
    QPushButton* continue_ = nullptr;
};

} // namespace brindell
