#include "shell/SnapshotSupport.h"

#include "shell/ApplicationSetup.h"

#include <QStyleFactory>
#include <QWidget>
#include <cstdio>

namespace brindell {

namespace {

// The headless platform says so each time a window asks to be raised; that is no news here.
void quietHeadlessNotes(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (text.startsWith(QLatin1String("This plugin does not support"))) {
        return;
    }
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
}

} // namespace

OffscreenPlatform::OffscreenPlatform() {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(quietHeadlessNotes);
}

HeadlessApp::HeadlessApp(int& argc, char** argv) : app(argc, argv) {
    prepareApplication(app);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(PanelTheme::lightPalette());
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(13);
    QApplication::setFont(font);
}

Appearance appearanceFor(RenderLook look) {
    Appearance appearance;
    appearance.dark = look.dark;
    appearance.reduceMotion = true; // a still picture: no fades
    return appearance;
}

void settle() {
    for (int i = 0; i < 5; ++i) {
        QApplication::processEvents();
        QApplication::sendPostedEvents();
    }
}

QImage render(QWidget& widget) {
    QImage image(widget.size() * renderRatio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(renderRatio);
    image.fill(Qt::transparent);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

int save(const QImage& image, const std::string& path) {
    if (!image.save(QString::fromStdString(path), "PNG")) {
        std::fprintf(stderr, "brindell: cannot write the snapshot to %s\n", path.c_str());
        return 1;
    }
    std::printf("brindell: wrote %s (%dx%d)\n", path.c_str(), image.width(), image.height());
    return 0;
}

} // namespace brindell
