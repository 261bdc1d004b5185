#include "shell/PanelTheme.h"

#include <QHash>
#include <QIcon>
#include <QPainter>
#include <algorithm>
#include <array>
#include <utility>

// Outside any namespace, as Qt's macro requires.
static void registerShellResources() {
    Q_INIT_RESOURCE(shell);
}

namespace brindell {

namespace {

struct SymbolName {
    std::string_view symbol;
    const char* icon;
};

// The freedesktop names of the mixer's symbols.
constexpr std::array<SymbolName, 19> symbolNames{{
    {"speaker.wave.2.fill", "audio-volume-high"},
    {"speaker.wave.2", "audio-volume-high"},
    {"speaker.wave.3.fill", "audio-volume-high"},
    {"speaker.fill", "audio-volume-low"},
    {"speaker.slash.fill", "audio-volume-muted"},
    {"speaker.badge.exclamationmark", "audio-volume-muted-blocking"},
    {"exclamationmark.triangle.fill", "dialog-warning"},
    {"ellipsis.circle", "content-loading"},
    {"shield.lefthalf.filled", "security-medium"},
    {"lock.slash", "changes-allow"},
    {"lock", "changes-prevent"},
    {"app.dashed", "application-x-executable"},
    {"gearshape", "preferences-system"},
    {"hifispeaker", "audio-speakers"},
    {"mic.slash", "microphone-sensitivity-muted"},
    {"music.note", "audio-x-generic"},
    {"arrow.right", "go-next"},
    {"slider.horizontal.3", "preferences-desktop"},
    {"MenuBarIcon", ""},
}};

QIcon themeIcon(const QString& name) {
    if (name.isEmpty()) {
        return {};
    }
    QIcon icon = QIcon::fromTheme(name + QStringLiteral("-symbolic"));
    if (icon.isNull()) {
        icon = QIcon::fromTheme(name);
    }
    return icon;
}

QIcon ownIcon(std::string_view symbol, const QString& name) {
    if (symbol == "MenuBarIcon") {
        return QIcon(QStringLiteral(":/brindell/MenuBarIcon.svg"));
    }
    return QIcon(QStringLiteral(":/brindell/symbols/") + name + QStringLiteral(".svg"));
}

// The icon for a symbol, looked up once per run.
const QIcon& iconFor(std::string_view symbol) {
    static const bool registered = (registerShellResources(), true);
    (void)registered;
    static QHash<QString, QIcon> cache;
    const QString key = QString::fromUtf8(symbol.data(), static_cast<qsizetype>(symbol.size()));
    auto found = cache.find(key);
    if (found == cache.end()) {
        const QString name = themeIconName(symbol);
        QIcon icon = themeIcon(name);
        if (icon.isNull()) {
            icon = ownIcon(symbol, name);
        }
        found = cache.insert(key, icon);
    }
    return *found;
}

} // namespace

QString themeIconName(std::string_view symbol) {
    for (const auto& entry : symbolNames) {
        if (entry.symbol == symbol) {
            return QString::fromLatin1(entry.icon);
        }
    }
    return {};
}

bool symbolUsesOwnArtwork(std::string_view symbol) {
    return themeIcon(themeIconName(symbol)).isNull();
}

QPixmap symbolPixmap(std::string_view symbol, int size, const QColor& color, qreal ratio) {
    const bool known = std::any_of(symbolNames.begin(), symbolNames.end(),
                                   [symbol](const SymbolName& e) { return e.symbol == symbol; });
    if (!known || size <= 0) {
        return {};
    }
    const int pixels = qRound(size * ratio);
    QPixmap source = iconFor(symbol).pixmap(QSize(pixels, pixels), 1.0);
    if (source.isNull()) {
        return {};
    }
    // Theme icons may come back smaller than asked; centre them.
    QPixmap tinted(pixels, pixels);
    tinted.fill(Qt::transparent);
    {
        QPainter painter(&tinted);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const QSize drawn = source.size().scaled(pixels, pixels, Qt::KeepAspectRatio);
        painter.drawPixmap(
            QRect(QPoint((pixels - drawn.width()) / 2, (pixels - drawn.height()) / 2), drawn),
            source);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(tinted.rect(), color);
    }
    tinted.setDevicePixelRatio(ratio);
    return tinted;
}

PanelTheme::PanelTheme(Appearance appearance, const QPalette& palette, const QFont& font)
    : appearance_(appearance), palette_(palette), font_(font) {
    if (appearance_.dark && !isDark(palette_)) {
        palette_ = darkPalette();
    } else if (!appearance_.dark && isDark(palette_)) {
        appearance_.dark = true; // a dark desktop palette is dark whatever was asked
    }
}

QColor PanelTheme::secondary() const {
    return primaryAt(appearance_.increaseContrast ? 0.75 : 0.55);
}

QColor PanelTheme::warning() const {
    return appearance_.dark ? QColor(0xff, 0xa3, 0x48) : QColor(0xc8, 0x5a, 0x00);
}

QColor PanelTheme::red() const {
    return appearance_.dark ? QColor(0xff, 0x6b, 0x5e) : QColor(0xe0, 0x1b, 0x24);
}

QColor PanelTheme::primaryAt(double opacity) const {
    QColor color = primary();
    color.setAlphaF(static_cast<float>(opacity));
    return color;
}

QFont PanelTheme::scaled(double factor) const {
    QFont font = font_;
    if (font_.pixelSize() > 0) {
        font.setPixelSize(qMax(8, qRound(font_.pixelSize() * factor)));
    } else {
        font.setPointSizeF(qMax(6.0, font_.pointSizeF() * factor));
    }
    return font;
}

QFont PanelTheme::headline() const {
    QFont font = font_;
    font.setWeight(QFont::DemiBold);
    return font;
}

QFont PanelTheme::callout() const {
    return scaled(0.93);
}
QFont PanelTheme::caption() const {
    return scaled(0.85);
}
QFont PanelTheme::caption2() const {
    return scaled(0.8);
}

QFont PanelTheme::medium() const {
    QFont font = font_;
    font.setWeight(QFont::Medium);
    return font;
}

bool PanelTheme::isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightnessF() < 0.5f;
}

QPalette PanelTheme::lightPalette() {
    QPalette p;
    const QColor text(0x1f, 0x1f, 0x21);
    p.setColor(QPalette::Window, QColor(0xf6, 0xf5, 0xf4));
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, Qt::white);
    p.setColor(QPalette::AlternateBase, QColor(0xf0, 0xef, 0xee));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0xf0, 0xef, 0xee));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Highlight, QColor(0x35, 0x84, 0xe4));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::ToolTipBase, QColor(0xfa, 0xfa, 0xfa));
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, QColor(0x1f, 0x1f, 0x21, 0x8c));
    p.setColor(QPalette::Link, QColor(0x1c, 0x71, 0xd8));
    p.setColor(QPalette::Light, Qt::white);
    p.setColor(QPalette::Midlight, QColor(0xe8, 0xe7, 0xe6));
    p.setColor(QPalette::Mid, QColor(0xc0, 0xbf, 0xbc));
    p.setColor(QPalette::Dark, QColor(0x9a, 0x99, 0x96));
    p.setColor(QPalette::Shadow, QColor(0, 0, 0, 0x60));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x1f, 0x1f, 0x21, 0x70));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x1f, 0x1f, 0x21, 0x70));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x1f, 0x1f, 0x21, 0x70));
    return p;
}

QPalette PanelTheme::darkPalette() {
    QPalette p;
    const QColor text(0xf4, 0xf4, 0xf5);
    p.setColor(QPalette::Window, QColor(0x2a, 0x2a, 0x2d));
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x20));
    p.setColor(QPalette::AlternateBase, QColor(0x33, 0x33, 0x36));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3d));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Highlight, QColor(0x3d, 0x8f, 0xf0));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::ToolTipBase, QColor(0x38, 0x38, 0x3b));
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, QColor(0xf4, 0xf4, 0xf5, 0x8c));
    p.setColor(QPalette::Link, QColor(0x78, 0xae, 0xed));
    p.setColor(QPalette::Light, QColor(0x4a, 0x4a, 0x4e));
    p.setColor(QPalette::Midlight, QColor(0x40, 0x40, 0x44));
    p.setColor(QPalette::Mid, QColor(0x30, 0x30, 0x33));
    p.setColor(QPalette::Dark, QColor(0x1a, 0x1a, 0x1c));
    p.setColor(QPalette::Shadow, QColor(0, 0, 0, 0xa0));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0xf4, 0xf4, 0xf5, 0x70));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0xf4, 0xf4, 0xf5, 0x70));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0xf4, 0xf4, 0xf5, 0x70));
    return p;
}

} // namespace brindell
