#include "shell/OnboardingView.h"

#include "shell/PanelWidgets.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace brindell {

namespace {

QLabel* textLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace

OnboardingView::OnboardingView(bool offersCrashReports, std::function<void(bool)> onContinue,
                               Appearance appearance, QWidget* parent)
    : QWidget(parent), offersCrashReports_(offersCrashReports), onContinue_(std::move(onContinue)),
      theme_(appearance, QApplication::palette(), QApplication::font()) {
    setAutoFillBackground(true);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(12);

    // The illustration: app audio, through Brindell's sliders, to a speaker. Looks only.
    auto* illustration = new QHBoxLayout;
    illustration->setContentsMargins(0, 4, 0, 4);
    illustration->setSpacing(14);
    illustration->addStretch(1);
    for (const auto& [symbol, tint] :
         {std::pair{"music.note", Tint::primary}, std::pair{"arrow.right", Tint::secondary},
          std::pair{"slider.horizontal.3", Tint::accent}, std::pair{"arrow.right", Tint::secondary},
          std::pair{"hifispeaker", Tint::primary}}) {
        illustration->addWidget(new Decoration(&theme_, symbol, 30, tint, this));
    }
    illustration->addStretch(1);
    column->addLayout(illustration);

    title_ = textLabel(QStringLiteral("Welcome to Brindell"), this);
    column->addWidget(title_);
    column->addWidget(textLabel(
        QStringLiteral("Brindell gives every app its own volume and output device."), this));
    column->addWidget(new Divider(&theme_, this));

    for (const auto& point : points) {
        auto* row = new QHBoxLayout;
        row->setSpacing(8);
        auto* symbol = new Decoration(&theme_, point.symbol, 20, Tint::accent, this);
        symbol->setFixedWidth(28);
        row->addWidget(symbol, 0, Qt::AlignTop);
        auto* words = new QVBoxLayout;
        words->setSpacing(2);
        auto* title = textLabel(QString::fromUtf8(point.title), this);
        pointTitles_.append(title);
        words->addWidget(title);
        auto* detail = textLabel(QString::fromUtf8(point.detail), this);
        secondaries_.append(detail);
        words->addWidget(detail);
        row->addLayout(words, 1);
        column->addLayout(row);
    }

    auto* stepList = new QVBoxLayout;
    stepList->setSpacing(4);
    int number = 1;
    for (const char* step : steps) {
        stepList->addWidget(textLabel(
            QString::number(number++) + QStringLiteral(". ") + QString::fromUtf8(step), this));
    }
    column->addLayout(stepList);

    note_ = textLabel(QStringLiteral("If the audio server does not let Brindell capture app audio, "
                                     "apps keep playing normally and the mixer explains what to "
                                     "do."),
                      this);
    column->addWidget(note_);

    if (offersCrashReports_) {
        auto* optIn = new QVBoxLayout;
        optIn->setSpacing(2);
        optIn_ = new QCheckBox(QStringLiteral("Send anonymous crash reports (optional)"), this);
        optIn_->setChecked(false);
        optIn->addWidget(optIn_);
        auto* caption = textLabel(
            QStringLiteral("Off unless you tick this. If Brindell crashes, it sends the app and "
                           "system version and where in the code it crashed. Never audio, the "
                           "apps you use, or anything about you. You can change this any time in "
                           "Settings."),
            this);
        secondaries_.append(caption);
        optIn->addWidget(caption);
        column->addLayout(optIn);
        connect(optIn_, &QCheckBox::toggled, this, [this](bool on) { sendCrashReports_ = on; });
    }

    continue_ = new QPushButton(QStringLiteral("Continue"), this);
    continue_->setDefault(true);
    continue_->setMinimumSize(110, 32);
    column->addWidget(continue_, 0, Qt::AlignRight);
    connect(continue_, &QPushButton::clicked, this, [this] { pressContinue(); });

    applyTheme();
    setFixedWidth(fixedWidth);
    setFixedHeight(column->totalHeightForWidth(fixedWidth));
}

void OnboardingView::keyPressEvent(QKeyEvent* event) {
    // Return is the window's default action: none of its controls takes the key for itself.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        continue_->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void OnboardingView::pressContinue() {
    onContinue_(offersCrashReports_ && sendCrashReports_);
}

void OnboardingView::setAppearance(Appearance appearance) {
    theme_ = PanelTheme(appearance, QApplication::palette(), QApplication::font());
    applyTheme();
}

void OnboardingView::applyTheme() {
    setPalette(theme_.palette());
    QFont titleFont = theme_.body();
    if (titleFont.pixelSize() > 0) {
        titleFont.setPixelSize(qRound(titleFont.pixelSize() * 1.7));
    } else {
        titleFont.setPointSizeF(titleFont.pointSizeF() * 1.7);
    }
    titleFont.setWeight(QFont::Bold);
    title_->setFont(titleFont);
    for (QLabel* title : pointTitles_) {
        title->setFont(theme_.headline());
    }
    for (QLabel* secondary : secondaries_) {
        setTextColor(secondary, theme_.secondary());
    }
    if (!secondaries_.isEmpty() && offersCrashReports_) {
        secondaries_.back()->setFont(theme_.caption());
    }
    note_->setFont(theme_.callout());
    update();
}

QStringList OnboardingView::texts() const {
    QStringList all;
    for (const QLabel* label : findChildren<QLabel*>()) {
        all << label->text();
    }
    if (optIn_ != nullptr) {
        all << optIn_->text();
    }
    all << continue_->text();
    return all;
}

} // namespace brindell
