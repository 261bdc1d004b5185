#pragma once

#include "shell/PanelTheme.h"

#include <QAbstractButton>
#include <QWidget>
#include <functional>
#include <string>

class QLabel;
class QMenu;
class QPainter;

namespace brindell {

// The colours a symbol or text can take in the panel.
enum class Tint { primary, secondary, accent, warning, red, white };
QColor tintColor(const PanelTheme& theme, Tint tint);

// The small custom-drawn pieces of the panel. Each reads its colours and fonts from the view's
// PanelTheme at paint time (the theme outlives them); applyTheme() refreshes fonts and sizes
// after the theme changed. Main thread only.

// A symbol drawn for looks only: it takes no part in accessibility. With a tile it is drawn
// on an accent-coloured rounded square, like the output section's header.
class Decoration : public QWidget {
    Q_OBJECT
public:
    Decoration(const PanelTheme* theme, std::string symbol, int symbolSize, Tint tint,
               QWidget* parent = nullptr);
    void setSymbol(std::string symbol);
    void setTint(Tint tint);
    void setTile(int tileSize, int cornerRadius);
    void setOpacity(qreal opacity);
    const std::string& symbol() const { return symbol_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const PanelTheme* theme_;
    std::string symbol_;
    int symbolSize_;
    Tint tint_;
    int tileSize_ = 0;
    int cornerRadius_ = 0;
    qreal opacity_ = 1.0;
};

// A round 26 by 26 button showing a symbol: red on a faint red disc while on (muted),
// secondary colour otherwise, with a faint disc while pressed.
class IconToggleButton : public QAbstractButton {
    Q_OBJECT
public:
    IconToggleButton(const PanelTheme* theme, QWidget* parent = nullptr);
    void setSymbol(std::string symbol);
    void setOn(bool on);
    bool isOn() const { return on_; }
    const std::string& symbol() const { return symbol_; }
    QSize sizeHint() const override { return {26, 26}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const PanelTheme* theme_;
    std::string symbol_;
    bool on_ = false;
};

// A borderless menu: its label and a small chevron; a click drops down the menu that populate
// fills afresh each time. Accessibility reads its value from accessibleValue().
class MenuButton : public QAbstractButton {
    Q_OBJECT
public:
    MenuButton(const PanelTheme* theme, QWidget* parent = nullptr);
    void setLabelFont(const QFont& font);
    void setTint(Tint tint);
    void setPopulate(std::function<void(QMenu&)> populate) { populate_ = std::move(populate); }
    void setAccessibleValue(const QString& value) { accessibleValue_ = value; }
    const QString& accessibleValue() const { return accessibleValue_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    // Drops the menu down under the label; the menu stays open until the user closes it.
    void openMenu();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const PanelTheme* theme_;
    std::function<void(QMenu&)> populate_;
    QString accessibleValue_;
    Tint tint_ = Tint::secondary;
};

// A text button drawn as a link, in the accent colour.
class LinkButton : public QAbstractButton {
    Q_OBJECT
public:
    LinkButton(const PanelTheme* theme, const QString& text, QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const PanelTheme* theme_;
};

// A plain symbol button in the secondary colour (the settings gear).
class SymbolButton : public QAbstractButton {
    Q_OBJECT
public:
    SymbolButton(const PanelTheme* theme, std::string symbol, QWidget* parent = nullptr);
    QSize sizeHint() const override { return {22, 22}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const PanelTheme* theme_;
    std::string symbol_;
};

// A rounded push button: prominent ones are filled with the accent colour.
class PanelButton : public QAbstractButton {
    Q_OBJECT
public:
    PanelButton(const PanelTheme* theme, const QString& text, bool prominent,
                QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const PanelTheme* theme_;
    bool prominent_;
};

// A symbol followed by text that wraps onto further lines, in one colour. Its accessible name
// is the text.
class SymbolTextLabel : public QWidget {
    Q_OBJECT
public:
    SymbolTextLabel(const PanelTheme* theme, QWidget* parent = nullptr);
    void setContent(std::string symbol, const QString& text, Tint tint);
    void setTextFont(const QFont& font);
    void setSymbolSize(int size);
    const QString& text() const { return text_; }
    const std::string& symbol() const { return symbol_; }
    Tint tint() const { return tint_; }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect textRect(int width) const;
    int symbolSpace() const;

    const PanelTheme* theme_;
    std::string symbol_;
    QString text_;
    Tint tint_ = Tint::secondary;
    int symbolSize_ = 12;
};

// A hairline across the panel.
class Divider : public QWidget {
    Q_OBJECT
public:
    explicit Divider(const PanelTheme* theme, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const PanelTheme* theme_;
};

} // namespace brindell

namespace brindell {

// Text from the model's UTF-8 strings.
QString toQString(std::string_view text);

// A label's text colour.
void setTextColor(QLabel* label, const QColor& color);

// The keyboard cursor: an accent-coloured fill at 12% and a 2-point accent outline.
void drawKeyboardCursor(QPainter& painter, const QRectF& box, const PanelTheme& theme);

// A widget's height at a width: its height-for-width when it has one, else its size hint.
int heightAtWidth(const QWidget* widget, int width);

} // namespace brindell
