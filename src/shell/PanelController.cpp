#include "shell/PanelController.h"

#include "queue/SerialQueue.h"
#include "shell/DesktopSettings.h"
#include "shell/MixerView.h"
#include "shell/PanelWidgets.h"

#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QPainterPath>
#include <QScreen>
#include <QVBoxLayout>
#include <QtGui/qguiapplication_platform.h>
#include <array>
#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

namespace brindell {

namespace {

PanelPlacement::Rect toRect(const QRect& rect) {
    return {static_cast<double>(rect.x()), static_cast<double>(rect.y()),
            static_cast<double>(rect.width()), static_cast<double>(rect.height())};
}

// Qt's tool windows still get a taskbar button and a pager entry on X11: ask the window
// manager to skip them. Set on the unmapped window before each showing, since a window manager
// clears the state when the window is withdrawn; Qt adds its own states to it when mapping.
void keepOutOfTaskbar(QWidget* window) {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        return;
    }
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (connection == nullptr) {
        return;
    }
    const auto intern = [connection](const char* name) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            connection,
            xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
            nullptr);
        const xcb_atom_t atom =
            reply != nullptr ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
        std::free(reply);
        return atom;
    };
    const std::array<xcb_atom_t, 2> states{intern("_NET_WM_STATE_SKIP_TASKBAR"),
                                           intern("_NET_WM_STATE_SKIP_PAGER")};
    const xcb_atom_t property = intern("_NET_WM_STATE");
    if (property == XCB_ATOM_NONE || states[0] == XCB_ATOM_NONE || states[1] == XCB_ATOM_NONE) {
        return;
    }
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE,
                        static_cast<xcb_window_t>(window->winId()), property, XCB_ATOM_ATOM, 32,
                        static_cast<std::uint32_t>(states.size()), states.data());
    xcb_flush(connection);
}

} // namespace

// --- MixerPanel -----------------------------------------------------------------------------

MixerPanel::MixerPanel(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowTitle(QStringLiteral("Brindell"));
    setAccessibleName(QStringLiteral("Brindell mixer"));
    // The panel itself takes the keyboard when shown, so no control looks focused until the
    // user tabs to one.
    setFocusPolicy(Qt::StrongFocus);
    qApp->installEventFilter(this);
}

MixerPanel::~MixerPanel() {
    qApp->removeEventFilter(this);
}

bool MixerPanel::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) {
        return false;
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || widget->window() != this) {
        return false;
    }
    auto& key = static_cast<QKeyEvent&>(*event);
    if (keyHandler(key)) {
        return true;
    }
    if (key.key() == Qt::Key_Escape && key.modifiers() == Qt::NoModifier) {
        onCancel();
        return true;
    }
    return false;
}

void MixerPanel::setMaskedCorners(bool masked) {
    maskedCorners_ = masked;
    updateMask();
}

void MixerPanel::updateMask() {
    if (!maskedCorners_) {
        clearMask();
        return;
    }
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), MixerView::cornerRadius, MixerView::cornerRadius);
    setMask(QRegion(shape.toFillPolygon().toPolygon()));
}

void MixerPanel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    updateMask();
    onResized();
}

// --- PanelController ------------------------------------------------------------------------

PanelController::Desktop PanelController::qtDesktop() {
    Desktop desktop;
    desktop.screens = [] {
        std::vector<PanelPlacement::Screen> screens;
        for (const QScreen* screen : QGuiApplication::screens()) {
            screens.push_back({toRect(screen->geometry()), toRect(screen->availableGeometry())});
        }
        return screens;
    };
    desktop.primary = [] {
        const QScreen* primary = QGuiApplication::primaryScreen();
        return primary ? toRect(primary->geometry()) : PanelPlacement::Rect{0, 0, 1920, 1080};
    };
    desktop.pointer = [] {
        const QPoint at = QCursor::pos();
        return PanelPlacement::Point{static_cast<double>(at.x()), static_cast<double>(at.y())};
    };
    return desktop;
}

PanelController::PanelController(MixerView* view, std::shared_ptr<SerialQueue> mainQueue,
                                 Desktop desktop)
    : view_(view), panel_(new MixerPanel()), mainQueue_(std::move(mainQueue)),
      desktop_(std::move(desktop)) {
    auto* layout = new QVBoxLayout(panel_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetNoConstraint); // only this controller sizes the panel
    layout->addWidget(view_);
    panel_->resize(MixerView::panelWidth, 200);
    panel_->setMaskedCorners(!compositingAvailable());
    panel_->onCancel = [this] { hide(); };
    panel_->onResized = [this] { pinTopEdge(); };
}

PanelController::~PanelController() {
    *alive_ = false;
    hide();
    delete panel_;
}

bool PanelController::isVisible() const {
    return panel_->isVisible();
}

QSize PanelController::measure(bool layoutFirst) {
    if (layoutFirst) {
        view_->layout()->activate();
    }
    const int height = heightAtWidth(view_, MixerView::panelWidth);
    if (height > 0) {
        return {MixerView::panelWidth, height};
    }
    const QSize fitting = view_->sizeHint();
    if (fitting.width() > 0 && fitting.height() > 0) {
        return fitting;
    }
    return {MixerView::panelWidth, 200};
}

void PanelController::show(const std::optional<QRect>& anchor, const std::optional<QPoint>& click) {
    using namespace PanelPlacement;
    panel_->resize(measure(true));

    const Rect primary = desktop_.primary();
    std::vector<Screen> screens;
    for (const auto& screen : desktop_.screens()) {
        screens.push_back(
            {fromTopDown(screen.frame, primary), fromTopDown(screen.visibleFrame, primary)});
    }
    const Point qtPointer = desktop_.pointer();
    const Point pointer{qtPointer.x - primary.x, primary.y + primary.height - qtPointer.y};
    const Rect primaryUp = fromTopDown(primary, primary);
    std::optional<Screen> pointerScreen;
    for (const auto& screen : screens) {
        if (screen.frame.contains(pointer)) {
            pointerScreen = screen;
            break;
        }
    }
    if (!pointerScreen) {
        for (const auto& screen : screens) {
            if (screen.frame == primaryUp) {
                pointerScreen = screen;
                break;
            }
        }
    }
    if (!pointerScreen) {
        pointerScreen = screens.empty() ? Screen{primaryUp, primaryUp} : screens.front();
    }
    std::optional<Rect> anchorUp;
    if (anchor) {
        anchorUp = fromTopDown(toRect(*anchor), primary);
    }

    const double width = panel_->width();
    const double height = panel_->height();
    std::optional<Point> clickUp;
    if (click) {
        clickUp = Point{click->x() - primary.x, primary.y + primary.height - click->y()};
    }
    const Point origin = placeNear(width, height, anchorUp, clickUp, screens, *pointerScreen);
    const Rect placed = toTopDown({origin.x, origin.y, width, height}, primary);
    topEdge_ = origin.y + height;
    panel_->move(qRound(placed.x), qRound(placed.y));

    onWillShow();
    keepOutOfTaskbar(panel_);
    panel_->show();
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) {
        panel_->raise(); // the headless platform has no stacking to change
    }
    panel_->activateWindow();
    panel_->setFocus(Qt::ActiveWindowFocusReason);

    std::weak_ptr<bool> alive = alive_;
    mainQueue_->async([this, alive] {
        if (const auto living = alive.lock(); living && *living) {
            relayout();
        }
    });

    if (!activationWatch_) {
        // Another application's window took activation: the panel closes, as on a click
        // outside. Brindell's own windows keep the application active and the panel open.
        activationWatch_ = connect(qApp, &QGuiApplication::applicationStateChanged, this,
                                   [this](Qt::ApplicationState state) {
                                       if (state != Qt::ApplicationActive) {
                                           hide();
                                       }
                                   });
    }
}

void PanelController::hide() {
    if (activationWatch_) {
        disconnect(activationWatch_);
        activationWatch_ = {};
    }
    panel_->hide();
}

void PanelController::pinTopEdge() {
    if (!panel_->isVisible()) {
        return;
    }
    const PanelPlacement::Rect primary = desktop_.primary();
    const double y = primary.y + primary.height - topEdge_;
    panel_->move(panel_->x(), qRound(y));
}

void PanelController::relayout() {
    if (!panel_->isVisible()) {
        return;
    }
    const QSize size = measure(true);
    if (panel_->size() != size) {
        panel_->resize(size);
    }
    // A second pass once pending layout work has run.
    std::weak_ptr<bool> alive = alive_;
    mainQueue_->async([this, alive] {
        const auto living = alive.lock();
        if (!living || !*living || !panel_->isVisible()) {
            return;
        }
        const QSize again = measure(false);
        if (panel_->size() != again) {
            panel_->resize(again);
        }
    });
}

} // namespace brindell
