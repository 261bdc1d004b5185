#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QPixmap>
#include <string_view>

namespace brindell {

// How the desktop wants the panel drawn.
struct Appearance {
    bool dark = false;
    bool reduceTransparency = false;
    bool increaseContrast = false;
    bool reduceMotion = false;
    friend bool operator==(const Appearance&, const Appearance&) = default;
};

// The colours and text styles of the panel, derived from a palette and the appearance. A value:
// the view keeps one and replaces it when the desktop changes.
class PanelTheme {
public:
    // palette: the desktop's; replaced by Brindell's own dark palette when the appearance is dark
    // but the palette is light (a desktop without Qt integration).
    PanelTheme(Appearance appearance, const QPalette& palette, const QFont& font);

    const Appearance& appearance() const { return appearance_; }
    const QPalette& palette() const { return palette_; }

    QColor primary() const { return palette_.color(QPalette::WindowText); }
    // Secondary text and symbols: the primary colour, faded (less so with increased contrast).
    QColor secondary() const;
    QColor accent() const { return palette_.color(QPalette::Highlight); }
    QColor warning() const; // orange
    QColor red() const;
    QColor windowBackground() const { return palette_.color(QPalette::Window); }
    // The primary colour at the given opacity, for fills and hairlines.
    QColor primaryAt(double opacity) const;

    // Text styles, scaled from the desktop's body font.
    QFont body() const { return font_; }
    QFont headline() const;
    QFont callout() const;
    QFont caption() const;
    QFont caption2() const;
    QFont medium() const; // body in medium weight: row names

    // Palettes Brindell uses where the desktop gives it nothing to follow.
    static QPalette lightPalette();
    static QPalette darkPalette();
    static bool isDark(const QPalette& palette);

private:
    QFont scaled(double factor) const;

    Appearance appearance_;
    QPalette palette_;
    QFont font_;
};

// A symbol identifier of the mixer ("speaker.slash.fill", ...) drawn as a one-colour image:
// from the desktop's icon theme (its symbolic variant first) when it has the icon the symbol
// maps to, else from Brindell's own drawing. The image is size by size device-independent
// pixels at the given device pixel ratio. A null pixmap only for an unknown symbol.
QPixmap symbolPixmap(std::string_view symbol, int size, const QColor& color, qreal ratio);

// The freedesktop icon name a symbol maps to; empty for an unknown symbol.
QString themeIconName(std::string_view symbol);

// Whether the symbol is drawn from Brindell's own artwork (the theme lacks it).
bool symbolUsesOwnArtwork(std::string_view symbol);

} // namespace brindell
