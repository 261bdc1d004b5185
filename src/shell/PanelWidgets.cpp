#include "shell/PanelWidgets.h"

#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>

namespace brindell {

QColor tintColor(const PanelTheme& theme, Tint tint) {
    switch (tint) {
    case Tint::primary:
        return theme.primary();
    case Tint::secondary:
        return theme.secondary();
    case Tint::accent:
        return theme.accent();
    case Tint::warning:
        return theme.warning();
    case Tint::red:
        return theme.red();
    case Tint::white:
        return Qt::white;
    }
    return theme.primary();
}

namespace {

void drawSymbol(QPainter& painter, const QRectF& box, std::string_view symbol, int size,
                const QColor& color) {
    const qreal ratio = painter.device()->devicePixelRatioF();
    const QPixmap pixmap = symbolPixmap(symbol, size, color, ratio);
    if (pixmap.isNull()) {
        return;
    }
    const QPointF origin(box.center().x() - size / 2.0, box.center().y() - size / 2.0);
    painter.drawPixmap(origin, pixmap);
}

} // namespace

// --- Decoration -----------------------------------------------------------------------------

Decoration::Decoration(const PanelTheme* theme, std::string symbol, int symbolSize, Tint tint,
                       QWidget* parent)
    : QWidget(parent), theme_(theme), symbol_(std::move(symbol)), symbolSize_(symbolSize),
      tint_(tint) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void Decoration::setSymbol(std::string symbol) {
    if (symbol != symbol_) {
        symbol_ = std::move(symbol);
        update();
    }
}

void Decoration::setTint(Tint tint) {
    if (tint != tint_) {
        tint_ = tint;
        update();
    }
}

void Decoration::setTile(int tileSize, int cornerRadius) {
    tileSize_ = tileSize;
    cornerRadius_ = cornerRadius;
    updateGeometry();
    update();
}

void Decoration::setOpacity(qreal opacity) {
    if (!qFuzzyCompare(opacity, opacity_)) {
        opacity_ = opacity;
        update();
    }
}

QSize Decoration::sizeHint() const {
    const int side = qMax(tileSize_, symbolSize_);
    return {side, side};
}

void Decoration::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(opacity_);
    if (tileSize_ > 0) {
        const QRectF tile((width() - tileSize_) / 2.0, (height() - tileSize_) / 2.0, tileSize_,
                          tileSize_);
        painter.setPen(Qt::NoPen);
        painter.setBrush(theme_->accent());
        painter.drawRoundedRect(tile, cornerRadius_, cornerRadius_);
    }
    drawSymbol(painter, rect(), symbol_, symbolSize_, tintColor(*theme_, tint_));
}

// --- IconToggleButton -----------------------------------------------------------------------

IconToggleButton::IconToggleButton(const PanelTheme* theme, QWidget* parent)
    : QAbstractButton(parent), theme_(theme) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
}

void IconToggleButton::setSymbol(std::string symbol) {
    if (symbol != symbol_) {
        symbol_ = std::move(symbol);
        update();
    }
}

void IconToggleButton::setOn(bool on) {
    if (on != on_) {
        on_ = on;
        update();
    }
}

void IconToggleButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF disc = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(Qt::NoPen);
    if (on_) {
        QColor fill = theme_->red();
        fill.setAlphaF(0.15f);
        painter.setBrush(fill);
        painter.drawEllipse(disc);
    } else if (isDown()) {
        painter.setBrush(theme_->primaryAt(0.12));
        painter.drawEllipse(disc);
    }
    if (hasFocus()) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(theme_->accent(), 1.5));
        painter.drawEllipse(disc.adjusted(0.75, 0.75, -0.75, -0.75));
    }
    drawSymbol(painter, rect(), symbol_, 15, on_ ? theme_->red() : theme_->secondary());
}

// --- MenuButton -----------------------------------------------------------------------------

namespace {
constexpr int chevronSpace = 12;
}

MenuButton::MenuButton(const PanelTheme* theme, QWidget* parent)
    : QAbstractButton(parent), theme_(theme) {
    setAttribute(Qt::WA_Hover); // repainted as the pointer comes and goes
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    connect(this, &QAbstractButton::clicked, this, &MenuButton::openMenu);
}

void MenuButton::setLabelFont(const QFont& font) {
    setFont(font);
    updateGeometry();
    update();
}

void MenuButton::setTint(Tint tint) {
    tint_ = tint;
    update();
}

QSize MenuButton::sizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text()) + chevronSpace + 2, metrics.height() + 2};
}

QSize MenuButton::minimumSizeHint() const {
    const QFontMetrics metrics(font());
    return {qMin(sizeHint().width(), metrics.averageCharWidth() * 6 + chevronSpace),
            metrics.height() + 2};
}

void MenuButton::openMenu() {
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    if (populate_) {
        populate_(*menu);
    }
    if (menu->isEmpty()) {
        delete menu;
        return;
    }
    menu->popup(mapToGlobal(QPoint(0, height())));
}

void MenuButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor color = tintColor(*theme_, tint_);
    if (underMouse() || isDown()) {
        color = theme_->primary();
    }
    const QFontMetrics metrics(font());
    const int textWidth = qMax(0, width() - chevronSpace);
    const QString shown = metrics.elidedText(text(), Qt::ElideRight, textWidth);
    painter.setPen(color);
    painter.setFont(font());
    const QRect textBox(0, 0, textWidth, height());
    painter.drawText(textBox, Qt::AlignLeft | Qt::AlignVCenter, shown);

    // A small downward chevron right after the text.
    const qreal x = metrics.horizontalAdvance(shown) + 4.5;
    const qreal y = height() / 2.0;
    QPainterPath chevron;
    chevron.moveTo(x, y - 1.5);
    chevron.lineTo(x + 3, y + 1.5);
    chevron.lineTo(x + 6, y - 1.5);
    painter.setPen(QPen(color, 1.3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(chevron);
    if (hasFocus()) {
        painter.setPen(QPen(theme_->accent(), 1));
        painter.drawLine(QPointF(0, height() - 0.5), QPointF(x + 6, height() - 0.5));
    }
}

// --- LinkButton -----------------------------------------------------------------------------

LinkButton::LinkButton(const PanelTheme* theme, const QString& text, QWidget* parent)
    : QAbstractButton(parent), theme_(theme) {
    setAttribute(Qt::WA_Hover);
    setText(text);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize LinkButton::sizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text()) + 2, metrics.height() + 2};
}

void LinkButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QFont font = this->font();
    font.setUnderline(underMouse() || hasFocus());
    painter.setFont(font);
    QColor color = theme_->accent();
    if (isDown()) {
        color = color.darker(120);
    }
    painter.setPen(color);
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, text());
}

// --- SymbolButton ---------------------------------------------------------------------------

SymbolButton::SymbolButton(const PanelTheme* theme, std::string symbol, QWidget* parent)
    : QAbstractButton(parent), theme_(theme), symbol_(std::move(symbol)) {
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void SymbolButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (isDown() || hasFocus()) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(theme_->primaryAt(isDown() ? 0.12 : 0.06));
        painter.drawRoundedRect(QRectF(rect()), 5, 5);
    }
    drawSymbol(painter, rect(), symbol_, 15,
               underMouse() ? theme_->primary() : theme_->secondary());
}

// --- PanelButton ----------------------------------------------------------------------------

PanelButton::PanelButton(const PanelTheme* theme, const QString& text, bool prominent,
                         QWidget* parent)
    : QAbstractButton(parent), theme_(theme), prominent_(prominent) {
    setText(text);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize PanelButton::sizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text()) + 24, metrics.height() + 10};
}

void PanelButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QColor fill = prominent_ ? theme_->accent() : theme_->primaryAt(0.07);
    if (isDown()) {
        fill = prominent_ ? fill.darker(115) : theme_->primaryAt(0.16);
    }
    painter.setBrush(fill);
    painter.setPen(prominent_ ? Qt::NoPen : QPen(theme_->primaryAt(0.16), 1));
    painter.drawRoundedRect(box, 6, 6);
    if (hasFocus()) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(prominent_ ? QColor(Qt::white) : theme_->accent(), 1.5));
        painter.drawRoundedRect(box.adjusted(1.5, 1.5, -1.5, -1.5), 5, 5);
    }
    painter.setPen(prominent_ ? QColor(Qt::white) : theme_->primary());
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignCenter, text());
}

// --- SymbolTextLabel ------------------------------------------------------------------------

SymbolTextLabel::SymbolTextLabel(const PanelTheme* theme, QWidget* parent)
    : QWidget(parent), theme_(theme) {
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void SymbolTextLabel::setContent(std::string symbol, const QString& text, Tint tint) {
    if (symbol == symbol_ && text == text_ && tint == tint_) {
        return;
    }
    symbol_ = std::move(symbol);
    text_ = text;
    tint_ = tint;
    setAccessibleName(text);
    updateGeometry();
    update();
}

void SymbolTextLabel::setTextFont(const QFont& font) {
    setFont(font);
    updateGeometry();
}

void SymbolTextLabel::setSymbolSize(int size) {
    symbolSize_ = size;
    updateGeometry();
}

int SymbolTextLabel::symbolSpace() const {
    return symbol_.empty() ? 0 : symbolSize_ + 5;
}

QRect SymbolTextLabel::textRect(int width) const {
    const QFontMetrics metrics(font());
    const int available = qMax(1, width - symbolSpace());
    return metrics.boundingRect(QRect(0, 0, available, 100000), Qt::TextWordWrap, text_);
}

int SymbolTextLabel::heightForWidth(int width) const {
    return qMax(textRect(width).height(), symbol_.empty() ? 0 : symbolSize_);
}

QSize SymbolTextLabel::sizeHint() const {
    const QFontMetrics metrics(font());
    const int natural = symbolSpace() + metrics.horizontalAdvance(text_);
    const int width = qMin(natural, 300);
    return {width, heightForWidth(width)};
}

QSize SymbolTextLabel::minimumSizeHint() const {
    const QFontMetrics metrics(font());
    return {symbolSpace() + metrics.averageCharWidth() * 8, metrics.height()};
}

void SymbolTextLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor color = tintColor(*theme_, tint_);
    const QFontMetrics metrics(font());
    if (!symbol_.empty()) {
        // Centred on the first line of text.
        const QRectF box(0, 0, symbolSize_, metrics.height());
        drawSymbol(painter, box, symbol_, symbolSize_, color);
    }
    painter.setPen(color);
    painter.setFont(font());
    painter.drawText(QRect(symbolSpace(), 0, width() - symbolSpace(), height()),
                     Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, text_);
}

// --- Divider --------------------------------------------------------------------------------

Divider::Divider(const PanelTheme* theme, QWidget* parent) : QWidget(parent), theme_(theme) {
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void Divider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), theme_->primaryAt(theme_->appearance().increaseContrast ? 0.3 : 0.1));
}

} // namespace brindell

namespace brindell {

int heightAtWidth(const QWidget* widget, int width) {
    if (widget->hasHeightForWidth()) {
        const int height = widget->heightForWidth(width);
        if (height >= 0) {
            return height;
        }
    }
    return widget->sizeHint().height();
}

QString toQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void setTextColor(QLabel* label, const QColor& color) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

void drawKeyboardCursor(QPainter& painter, const QRectF& box, const PanelTheme& theme) {
    QColor fill = theme.accent();
    fill.setAlphaF(0.12f);
    painter.setBrush(fill);
    painter.setPen(QPen(theme.accent(), 2));
    painter.drawRoundedRect(box, 8, 8);
}

} // namespace brindell
