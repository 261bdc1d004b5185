// The snapshot modes and the key diagnostic: the real view model, view and panel over the
// preview engine, on Qt's offscreen platform.
#include "app/Diagnostics.h"
#include "mixer/PreviewMixerEngine.h"
#include "shell/ApplicationSetup.h"
#include "shell/BrindellApp.h"
#include "shell/MasterSection.h"
#include "shell/MixerView.h"
#include "shell/PanelController.h"
#include "shell/QtKeys.h"
#include "shell/QtMainQueue.h"
#include "shell/SnapshotSupport.h"
#include "shell/SourceRowView.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QStyleFactory>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace brindell {

namespace {

MixerViewOptions optionsFor(RenderLook look) {
    MixerViewOptions options;
    options.forceReducedTransparency = look.reduceTransparency;
    options.forceIncreasedContrast = look.increaseContrast;
    return options;
}

struct PreviewPanel {
    std::shared_ptr<QtMainQueue> mainQueue = std::make_shared<QtMainQueue>();
    std::shared_ptr<PreviewMixerEngine> engine;
    std::shared_ptr<MixerViewModel> model;
    MixerView* view = nullptr;
    std::unique_ptr<PanelController> panel;

    PreviewPanel(PreviewRequest preview, RenderLook look, PanelController::Desktop desktop) {
        engine =
            std::make_shared<PreviewMixerEngine>(previewSnapshot(preview.state, preview.extraRows));
        model = MixerViewModel::create(engine, mainQueue);
        view = new MixerView(model, appearanceFor(look), optionsFor(look));
        panel = std::make_unique<PanelController>(view, mainQueue, std::move(desktop));
        panel->onWillShow = [this] { model->keyboardTarget.set(std::nullopt); };
        panel->panel()->keyHandler = [this](QKeyEvent& event) {
            return handlePanelKey(*model, event);
        };
    }
};

// A desktop for the panel snapshot: one screen with a bar along its top holding the tray.
constexpr int screenWidth = 760;
constexpr int barHeight = 30;

PanelController::Desktop snapshotDesktop(int screenHeight) {
    PanelController::Desktop desktop;
    const PanelPlacement::Rect frame{0, 0, screenWidth, static_cast<double>(screenHeight)};
    const PanelPlacement::Rect visible{0, barHeight, screenWidth,
                                       static_cast<double>(screenHeight - barHeight)};
    desktop.screens = [=] { return std::vector<PanelPlacement::Screen>{{frame, visible}}; };
    desktop.primary = [=] { return frame; };
    desktop.pointer = [] { return PanelPlacement::Point{560, 12}; };
    return desktop;
}

QRect trayIconRect() {
    return {548, 3, 24, 24};
}

void drawDesktop(QPainter& painter, const QSize& size, bool dark) {
    QLinearGradient wallpaper(0, 0, size.width(), size.height());
    if (dark) {
        wallpaper.setColorAt(0, QColor(0x1b, 0x24, 0x3d));
        wallpaper.setColorAt(0.55, QColor(0x33, 0x2a, 0x55));
        wallpaper.setColorAt(1, QColor(0x12, 0x3f, 0x4f));
    } else {
        wallpaper.setColorAt(0, QColor(0x7c, 0xc4, 0xd8));
        wallpaper.setColorAt(0.5, QColor(0xa9, 0xb8, 0xf0));
        wallpaper.setColorAt(1, QColor(0xf3, 0xc1, 0xa6));
    }
    painter.fillRect(QRect(QPoint(), size), wallpaper);
    // Soft shapes, so that the panel's translucency shows.
    const struct {
        QPointF centre;
        qreal radius;
        QColor colour;
    } blobs[] = {
        {{150, 260}, 210, dark ? QColor(0x5b, 0x3f, 0xa8, 150) : QColor(0xff, 0xff, 0xff, 140)},
        {{620, 420}, 260, dark ? QColor(0x1f, 0x7a, 0x8c, 130) : QColor(0xff, 0x9f, 0x7a, 120)},
        {{480, 150}, 150, dark ? QColor(0xa8, 0x4f, 0x7a, 110) : QColor(0x6a, 0x8d, 0xf0, 120)},
    };
    for (const auto& blob : blobs) {
        QRadialGradient glow(blob.centre, blob.radius);
        glow.setColorAt(0, blob.colour);
        QColor edge = blob.colour;
        edge.setAlpha(0);
        glow.setColorAt(1, edge);
        painter.fillRect(QRect(QPoint(), size), glow);
    }
    // The top bar with its tray.
    painter.fillRect(QRect(0, 0, size.width(), barHeight), QColor(0x14, 0x14, 0x16, 235));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(12);
    font.setWeight(QFont::DemiBold);
    painter.setFont(font);
    painter.setPen(QColor(0xf2, 0xf2, 0xf2));
    painter.drawText(QRect(0, 0, size.width(), barHeight), Qt::AlignCenter,
                     QStringLiteral("Tue 14:32"));
    painter.drawText(QRect(14, 0, 200, barHeight), Qt::AlignVCenter | Qt::AlignLeft,
                     QStringLiteral("Activities"));
    const QRect icon = trayIconRect();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 40));
    painter.drawRoundedRect(QRectF(icon).adjusted(-4, 0, 4, 0), 12, 12);
    const qreal ratio = painter.device()->devicePixelRatioF();
    painter.drawPixmap(icon.topLeft() + QPoint(4, 4),
                       symbolPixmap("MenuBarIcon", 16, QColor(0xf2, 0xf2, 0xf2), ratio));
    painter.drawPixmap(QPoint(icon.right() + 16, 7),
                       symbolPixmap("audio-volume-high", 16, QColor(0xf2, 0xf2, 0xf2), ratio));
}

void drawShadow(QPainter& painter, const QRectF& panel) {
    // A soft drop shadow: rounded rectangles of falling strength, spreading outwards.
    painter.setPen(Qt::NoPen);
    for (int i = 24; i >= 1; --i) {
        const qreal spread = i;
        const int alpha = static_cast<int>(std::lround(46.0 * std::pow(1.0 - i / 25.0, 2.2) / 3.0));
        painter.setBrush(QColor(0, 0, 0, alpha));
        painter.drawRoundedRect(panel.adjusted(-spread, -spread + 6, spread, spread + 6),
                                16 + spread, 16 + spread);
    }
}

} // namespace

int runMixerSnapshot(int argc, char** argv, const std::string& path, RenderLook look,
                     PreviewRequest preview) {
    HeadlessApp headless(argc, argv);
    PreviewPanel panel(preview, look, PanelController::qtDesktop());
    panel.panel->show(std::nullopt);
    settle();
    return save(render(*panel.view), path);
}

int runPanelSnapshot(int argc, char** argv, const std::string& path, RenderLook look,
                     PreviewRequest preview) {
    HeadlessApp headless(argc, argv);
    // Measure first, to size the desktop around the panel.
    PreviewPanel probe(preview, look, snapshotDesktop(600));
    const int panelHeight = probe.panel->measure(true).height();
    const int screenHeight = barHeight + 6 + panelHeight + 70;

    PreviewPanel panel(preview, look, snapshotDesktop(screenHeight));
    panel.panel->show(trayIconRect());
    settle();
    const QImage content = render(*panel.panel->panel());
    const QRect placed = panel.panel->panel()->geometry();

    QImage image(QSize(screenWidth, screenHeight) * renderRatio,
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(renderRatio);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    drawDesktop(painter, QSize(screenWidth, screenHeight), look.dark);
    drawShadow(painter, QRectF(placed));
    painter.drawImage(placed.topLeft(), content);
    painter.end();
    return save(image, path);
}

// --- the key diagnostic ----------------------------------------------------------------------

namespace {

struct KeyStep {
    const char* name;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    QString text;
    bool expectUsed;
};

std::string percent(float value) {
    return std::to_string(static_cast<int>(std::lround(static_cast<double>(value) * 100.0))) + "%";
}

std::string describeState(const MixerViewModel& model) {
    std::ostringstream out;
    const auto& target = model.keyboardTarget.get();
    out << "target=" << (target ? target->text() : "none") << " | master ";
    if (const auto& master = model.master.get()) {
        out << master->deviceUID << " " << (master->volume ? percent(*master->volume) : "-")
            << (master->isMuted.value_or(false) ? " muted" : "");
    } else {
        out << "none";
    }
    for (const auto& row : model.rows.get()) {
        out << " | " << row.pid << " " << row.name << " " << percent(row.volume)
            << (row.isMuted ? " muted" : "") << " " << row.outputUID.value_or("default");
    }
    return out.str();
}

} // namespace

int runKeyTest(int argc, char** argv, PreviewRequest preview) {
    HeadlessApp headless(argc, argv);
    PreviewPanel panel(preview, RenderLook{}, PanelController::qtDesktop());
    panel.panel->show(std::nullopt);
    settle();

    const KeyStep steps[] = {
        {"M (nothing chosen)", Qt::Key_M, Qt::NoModifier, QStringLiteral("m"), false},
        {"Down", Qt::Key_Down, Qt::NoModifier, {}, true},
        {"Up", Qt::Key_Up, Qt::NoModifier, {}, true},
        {"Right (master)", Qt::Key_Right, Qt::NoModifier, {}, true},
        {"M (master)", Qt::Key_M, Qt::NoModifier, QStringLiteral("m"), true},
        {"R (master)", Qt::Key_R, Qt::NoModifier, QStringLiteral("r"), true},
        {"Down", Qt::Key_Down, Qt::NoModifier, {}, true},
        {"Right", Qt::Key_Right, Qt::NoModifier, {}, true},
        {"Shift+Left", Qt::Key_Left, Qt::ShiftModifier, {}, true},
        {"Alt+Right", Qt::Key_Right, Qt::AltModifier, {}, true},
        {"Shift+Alt+Left", Qt::Key_Left, Qt::ShiftModifier | Qt::AltModifier, {}, true},
        {"Shift+M", Qt::Key_M, Qt::ShiftModifier, QStringLiteral("M"), true},
        {"R", Qt::Key_R, Qt::NoModifier, QStringLiteral("r"), true},
        {"R", Qt::Key_R, Qt::NoModifier, QStringLiteral("r"), true},
        {"R", Qt::Key_R, Qt::NoModifier, QStringLiteral("r"), true},
        {"R", Qt::Key_R, Qt::NoModifier, QStringLiteral("r"), true},
        {"End", Qt::Key_End, Qt::NoModifier, {}, true},
        {"Down (last row)", Qt::Key_Down, Qt::NoModifier, {}, true},
        {"Ctrl+Up", Qt::Key_Up, Qt::ControlModifier, {}, false},
        {"Super+Up", Qt::Key_Up, Qt::MetaModifier, {}, false},
        {"A", Qt::Key_A, Qt::NoModifier, QStringLiteral("a"), false},
        {"Home", Qt::Key_Home, Qt::NoModifier, {}, true},
    };

    std::ostringstream log;
    log << "start: " << describeState(*panel.model) << "\n";
    int failures = 0;
    MixerPanel* window = panel.panel->panel();
    for (const auto& step : steps) {
        bool used = false;
        const auto previous = window->keyHandler;
        window->keyHandler = [&used, &previous](QKeyEvent& event) {
            used = previous(event);
            return used;
        };
        QKeyEvent press(QEvent::KeyPress, step.key, step.modifiers, step.text);
        QApplication::sendEvent(window, &press);
        window->keyHandler = previous;
        settle();
        const bool expected = used == step.expectUsed;
        failures += expected ? 0 : 1;
        log << step.name << ": " << (used ? "used" : "passed on")
            << (expected ? "" : " (UNEXPECTED)") << "; " << describeState(*panel.model) << "\n";
    }
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(window, &escape);
    const bool closed = !panel.panel->isVisible();
    failures += closed ? 0 : 1;
    log << "Escape: panel " << (closed ? "closed" : "still open (UNEXPECTED)") << "\n";
    log << (failures == 0 ? "keytest passed\n" : "keytest FAILED\n");

    const std::string logPath = temporaryDirectory() + "/keytest.log";
    if (!writeLog("keytest.log", log.str(), false)) {
        std::fprintf(stderr, "brindell: cannot write %s\n", logPath.c_str());
        return 1;
    }
    std::printf("brindell: %s; log in %s\n", failures == 0 ? "keytest passed" : "keytest failed",
                logPath.c_str());
    return failures == 0 ? 0 : 1;
}

} // namespace brindell
