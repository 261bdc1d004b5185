#pragma once

#include "shell/BrindellApp.h"
#include "shell/PanelTheme.h"

#include <QApplication>
#include <QImage>
#include <string>

class QWidget;

// What every snapshot mode shares: a headless application with fixed looks, and rendering a
// widget to a PNG at twice its size.
namespace brindell {

inline constexpr qreal renderRatio = 2.0;

// Selects Qt's offscreen platform before the application exists, and quietens its notes.
struct OffscreenPlatform {
    OffscreenPlatform();
};

// A headless application with a fixed style, palette and font, so renderings do not depend on
// the machine's desktop settings.
struct HeadlessApp : OffscreenPlatform {
    HeadlessApp(int& argc, char** argv);
    QApplication app;
};

Appearance appearanceFor(RenderLook look);

// Runs posted work (the model's refreshes, relayouts) until none is left.
void settle();

// The widget and its children on a transparent image of renderRatio times its size.
QImage render(QWidget& widget);

// Writes the PNG. 0 on success; 1 with a message on standard error.
int save(const QImage& image, const std::string& path);

} // namespace brindell
