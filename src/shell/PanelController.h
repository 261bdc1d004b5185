#pragma once

#include "shell/PanelPlacement.h"

#include <QMetaObject>
#include <QPoint>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QKeyEvent;

namespace brindell {

class MixerView;
class SerialQueue;

// The floating panel window: frameless, above other windows, out of the task bar. Key presses
// meant for it or any of its widgets go to keyHandler first and are dropped when it returns
// true; an Esc nobody took runs onCancel.
class MixerPanel : public QWidget {
    Q_OBJECT
public:
    explicit MixerPanel(QWidget* parent = nullptr);
    ~MixerPanel() override;

    // Without a compositor, transparent corners would show black: clip the window to the
    // panel's rounded shape instead.
    void setMaskedCorners(bool masked);

    std::function<void()> onCancel = [] {};
    std::function<bool(QKeyEvent&)> keyHandler = [](QKeyEvent&) { return false; };
    std::function<void()> onResized = [] {};

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateMask();
    bool maskedCorners_ = false;
};

// Shows, places and measures the mixer panel. The panel opens under the tray icon when the
// icon sits in a bar at the top of its screen, next to the icon or the point it was clicked at
// for any other tray, else centred at the top of the screen under the pointer; it keeps its top
// edge while its content grows or shrinks; Esc, or the activation of another application's window,
// closes it.
//
// Threading: main thread only. Ownership: owns the panel window and, through it, the view.
class PanelController : public QObject {
    Q_OBJECT
public:
    // Where the screens are and where the pointer is; the desktop's by default, replaceable
    // for tests. Rectangles in the toolkit's coordinates (y downwards).
    struct Desktop {
        std::function<std::vector<PanelPlacement::Screen>()> screens; // frames in Qt coordinates
        std::function<PanelPlacement::Rect()> primary;
        std::function<PanelPlacement::Point()> pointer;
    };
    static Desktop qtDesktop();

    PanelController(MixerView* view, std::shared_ptr<SerialQueue> mainQueue,
                    Desktop desktop = qtDesktop());
    ~PanelController() override;

    // anchor: the tray icon's rectangle in Qt coordinates, when known; click: where the icon
    // was clicked, for a tray that reports no rectangle.
    void show(const std::optional<QRect>& anchor,
              const std::optional<QPoint>& click = std::nullopt);
    void hide();
    void relayout();
    bool isVisible() const;

    MixerPanel* panel() const { return panel_; }
    MixerView* view() const { return view_; }
    // The top edge as last placed, in the y-up frame; 0 before the first show.
    double topEdge() const { return topEdge_; }
    bool isWatchingActivation() const { return static_cast<bool>(activationWatch_); }

    // The panel's content size for the panel's width: the view's height there, else its
    // fitting size, else 380 by 200.
    QSize measure(bool layoutFirst);

    std::function<void()> onWillShow = [] {};

private:
    void pinTopEdge();

    MixerView* view_;
    MixerPanel* panel_;
    std::shared_ptr<SerialQueue> mainQueue_;
    Desktop desktop_;
    double topEdge_ = 0;
    QMetaObject::Connection activationWatch_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace brindell
