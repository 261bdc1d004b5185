#include "shell/SettingsView.h"

#include "crash/CrashController.h"
#include "crash/CrashReport.h"
#include "hotkey/HotkeyRecorderModel.h"
#include "login/LaunchAtLoginModel.h"
#include "updates/UpdateConfig.h"
#include "updates/UpdateController.h"

#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

namespace brindell {

namespace {

QString fromStd(const std::string& text) {
    return QString::fromStdString(text);
}

// One group of the form: a rounded, faintly filled box on the window background.
class FormGroup : public QFrame {
public:
    FormGroup(const PanelTheme* theme, QWidget* parent) : QFrame(parent), theme_(theme) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(theme_->primaryAt(0.10), 1));
        painter.setBrush(theme_->primaryAt(theme_->appearance().dark ? 0.06 : 0.035));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    }

private:
    const PanelTheme* theme_;
};

// The current shortcut, in a small box filled with the quaternary colour.
class ShortcutBox : public QLabel {
public:
    ShortcutBox(const PanelTheme* theme, QWidget* parent) : QLabel(parent), theme_(theme) {
        setContentsMargins(8, 2, 8, 2);
        setTextInteractionFlags(Qt::NoTextInteraction);
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        {
            QPainter painter(this);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(Qt::NoPen);
            painter.setBrush(theme_->primaryAt(0.10));
            const QSize text = QLabel::sizeHint();
            QRectF box(QPointF(0, (height() - text.height()) / 2.0), QSizeF(text));
            painter.drawRoundedRect(box, 5, 5);
        }
        QLabel::paintEvent(event);
    }

private:
    const PanelTheme* theme_;
};

QLabel* wrappedLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    return label;
}

bool isSecureAddress(const std::string& address) {
    const auto parsed = parseURL(address);
    return parsed && parsed->scheme == "https" && !parsed->host.empty();
}

} // namespace

QString menuBarHint(const QString& shortcut) {
    return QStringLiteral("If the icon is hidden or there is no system tray, press ") + shortcut +
           QStringLiteral(" to open the mixer.");
}

QString desktopShortcutHintText() {
    return QStringLiteral("This desktop does not let apps set global shortcuts. To open the "
                          "mixer with a key, add a shortcut in the desktop's own keyboard "
                          "settings that runs the command: ") +
           QLatin1String(panelToggleCommand);
}

SettingsView::SettingsView(SettingsModels models, SettingsViewOptions options,
                           Appearance appearance, QWidget* parent)
    : QWidget(parent), models_(std::move(models)), options_(std::move(options)),
      theme_(appearance, QApplication::palette(), QApplication::font()),
      showIcon_(options_.showIcon) {
    setAutoFillBackground(true);
    const bool privacy = models_.crash->isAvailable();
    // The height is fixed now; the privacy section never comes or goes later.
    setFixedSize(fixedWidth, privacy ? heightWithPrivacy : heightWithoutPrivacy);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    // An expanded sample report may be taller than the window: the form scrolls then.
    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    outer->addWidget(scroll);
    auto* content = new QWidget(scroll);
    content->setAutoFillBackground(false);
    scroll->viewport()->setAutoFillBackground(false);
    scroll->setWidget(content);
    form_ = new QVBoxLayout(content);
    form_->setContentsMargins(12, 4 + 12, 12, 4 + 12);
    form_->setSpacing(6);

    buildShortcut();
    buildMenuBar();
    buildStartup();
    buildUpdates();
    if (privacy) {
        buildPrivacy();
    }
    form_->addStretch(1);

    // Each model tells this view about its changes; the view may go first.
    QPointer<SettingsView> self(this);
    const auto refresher = [self] {
        if (auto* view = self.data()) {
            view->refresh();
        }
    };
    models_.recorder->setOnChange(refresher);
    models_.launchAtLogin->setOnChange(refresher);
    models_.updates->setOnChange(refresher);
    models_.crash->setOnChange([refresher](bool) { refresher(); });

    applyTheme();
    refresh();
}

SettingsView::~SettingsView() = default;

QWidget* SettingsView::addSection(const QString& header) {
    auto* label = new QLabel(header, form_->parentWidget());
    label->setContentsMargins(6, headers_.isEmpty() ? 0 : 12, 0, 0);
    headers_.append(label);
    form_->addWidget(label);
    auto* group = new FormGroup(&theme_, form_->parentWidget());
    auto* layout = new QVBoxLayout(group);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(8);
    form_->addWidget(group);
    return group;
}

QLabel* SettingsView::addCaption(QWidget* section, const QString& text) {
    auto* label = wrappedLabel(text, section);
    captions_.append(label);
    section->layout()->addWidget(label);
    return label;
}

void SettingsView::buildShortcut() {
    QWidget* section = addSection(QStringLiteral("Shortcut"));
    auto* line = new QHBoxLayout;
    line->setSpacing(6);
    line->addWidget(new QLabel(QStringLiteral("Show mixer"), section));
    line->addStretch(1);
    shortcutLabel_ = new ShortcutBox(&theme_, section);
    shortcutLabel_->setAccessibleName(QStringLiteral("Current shortcut"));
    line->addWidget(shortcutLabel_);
    recordButton_ = new QPushButton(QStringLiteral("Record"), section);
    recordButton_->setAutoDefault(false);
    line->addWidget(recordButton_);
    defaultButton_ = new QPushButton(QStringLiteral("Default"), section);
    defaultButton_->setAutoDefault(false);
    line->addWidget(defaultButton_);
    // Both buttons as narrow as their texts, so the line fits the window's width.
    for (auto* button : {recordButton_, defaultButton_}) {
        const QFontMetrics metrics(button->font());
        const int text = qMax(metrics.horizontalAdvance(button->text()),
                              metrics.horizontalAdvance(QStringLiteral("Cancel")));
        button->setFixedWidth(text + 20);
    }
    static_cast<QVBoxLayout*>(section->layout())->addLayout(line);
    shortcutMessage_ = addCaption(section, {});
    desktopHint_ = addCaption(section, desktopShortcutHintText());
    desktopHint_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    showMixerButton_ = new QPushButton(QStringLiteral("Show mixer"), section);
    showMixerButton_->setAutoDefault(false);
    section->layout()->addWidget(showMixerButton_);
    section->layout()->setAlignment(showMixerButton_, Qt::AlignLeft);
    connect(showMixerButton_, &QPushButton::clicked, this, [this] { options_.showMixer(); });

    connect(recordButton_, &QPushButton::clicked, this, [this] {
        if (models_.recorder->isRecording()) {
            models_.recorder->stopRecording();
        } else {
            models_.recorder->startRecording();
        }
    });
    connect(defaultButton_, &QPushButton::clicked, this,
            [this] { models_.recorder->resetToDefault(); });
}

void SettingsView::buildMenuBar() {
    QWidget* section = addSection(QStringLiteral("System tray"));
    iconToggle_ = new QCheckBox(QStringLiteral("Show icon in the system tray"), section);
    section->layout()->addWidget(iconToggle_);
    iconCaption_ = addCaption(section, {});
    connect(iconToggle_, &QCheckBox::clicked, this, [this](bool on) {
        showIcon_ = on;
        options_.setIconVisible(on);
    });
}

void SettingsView::buildStartup() {
    QWidget* section = addSection(QStringLiteral("Startup"));
    loginToggle_ = new QCheckBox(QStringLiteral("Open Brindell at login"), section);
    section->layout()->addWidget(loginToggle_);
    loginMessage_ = addCaption(section, {});
    loginItemsButton_ = new QPushButton(QStringLiteral("Open Login Items"), section);
    loginItemsButton_->setAutoDefault(false);
    section->layout()->addWidget(loginItemsButton_);
    section->layout()->setAlignment(loginItemsButton_, Qt::AlignLeft);
    connect(loginToggle_, &QCheckBox::clicked, this,
            [this](bool on) { models_.launchAtLogin->set(on); });
    connect(loginItemsButton_, &QPushButton::clicked, this, [this] { options_.openLoginItems(); });
}

void SettingsView::buildUpdates() {
    QWidget* section = addSection(QStringLiteral("Updates"));
    versionLabel_ = new QLabel(QStringLiteral("Brindell ") + fromStd(options_.version), section);
    versionLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    section->layout()->addWidget(versionLabel_);

    if (options_.marker) {
        // One element for assistive technology: the badge and the update host together.
        auto* block = new QWidget(section);
        auto* lines = new QVBoxLayout(block);
        lines->setContentsMargins(0, 0, 0, 0);
        lines->setSpacing(2);
        markerBadge_ =
            new QLabel(fromStd(options_.marker->badge) + QStringLiteral(" (sandbox)"), block);
        markerHost_ = new QLabel(QStringLiteral("Updates: ") +
                                     fromStd(options_.marker->updateHost.value_or("none")),
                                 block);
        captions_.append(markerHost_);
        lines->addWidget(markerBadge_);
        lines->addWidget(markerHost_);
        block->setFocusPolicy(Qt::NoFocus);
        block->setAccessibleName(markerBadge_->text() + QStringLiteral(", ") + markerHost_->text());
        section->layout()->addWidget(block);
    }

    if (!models_.updates->hasController()) {
        noUpdatesLabel_ =
            wrappedLabel(QStringLiteral("This build does not check for updates."), section);
        captions_.append(noUpdatesLabel_);
        section->layout()->addWidget(noUpdatesLabel_);
        return;
    }
    automaticChecks_ = new QCheckBox(QStringLiteral("Check for updates automatically"), section);
    section->layout()->addWidget(automaticChecks_);
    checkButton_ = new QPushButton(QStringLiteral("Check for Updates\u2026"), section);
    checkButton_->setAutoDefault(false);
    section->layout()->addWidget(checkButton_);
    section->layout()->setAlignment(checkButton_, Qt::AlignLeft);
    connect(automaticChecks_, &QCheckBox::clicked, this,
            [this](bool on) { models_.updates->setAutomaticChecks(on); });
    connect(checkButton_, &QPushButton::clicked, this,
            [this] { models_.updates->checkForUpdates(); });
}

void SettingsView::buildPrivacy() {
    QWidget* section = addSection(QStringLiteral("Privacy"));
    privacySection_ = section;
    crashToggle_ = new QCheckBox(QStringLiteral("Send anonymous crash reports"), section);
    section->layout()->addWidget(crashToggle_);
    crashCaption_ = addCaption(
        section,
        QStringLiteral("Off by default. If Brindell crashes, it sends the app and system version "
                       "and where in the code it crashed, only while this is on. A report never "
                       "contains audio, the apps you use, your name or e-mail address, or "
                       "anything else that identifies you or your computer."));

    sampleDisclosure_ = new QToolButton(section);
    sampleDisclosure_->setText(QStringLiteral("What a report contains"));
    sampleDisclosure_->setCheckable(true);
    sampleDisclosure_->setChecked(false);
    sampleDisclosure_->setAutoRaise(true);
    sampleDisclosure_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    sampleDisclosure_->setArrowType(Qt::RightArrow);
    section->layout()->addWidget(sampleDisclosure_);
    sampleText_ = new QLabel(QString::fromStdString(CrashReport::sample()), section);
    sampleText_->setTextFormat(Qt::PlainText);
    sampleText_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    sampleText_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    sampleText_->setContentsMargins(18, 0, 0, 0);
    sampleText_->setVisible(false);
    section->layout()->addWidget(sampleText_);
    connect(sampleDisclosure_, &QToolButton::toggled, this, [this](bool expanded) {
        showSample_ = expanded;
        sampleDisclosure_->setArrowType(expanded ? Qt::DownArrow : Qt::RightArrow);
        sampleText_->setVisible(expanded);
    });

    if (options_.privacyStatementURL && isSecureAddress(*options_.privacyStatementURL)) {
        const QString address = fromStd(*options_.privacyStatementURL).toHtmlEscaped();
        privacyLink_ = new QLabel(QStringLiteral("<a href=\"") + address +
                                      QStringLiteral("\">Privacy statement</a>"),
                                  section);
        privacyLink_->setTextFormat(Qt::RichText);
        privacyLink_->setOpenExternalLinks(true);
        section->layout()->addWidget(privacyLink_);
    }
    connect(crashToggle_, &QCheckBox::clicked, this, [this](bool on) {
        models_.crash->setIsOn(on);
        // A failed write leaves consent as it was, and no change is announced then.
        refresh();
    });
}

QStringList SettingsView::sectionHeaders() const {
    QStringList headers;
    for (const QLabel* header : headers_) {
        headers << header->text();
    }
    return headers;
}

void SettingsView::setAppearance(Appearance appearance) {
    theme_ = PanelTheme(appearance, QApplication::palette(), QApplication::font());
    applyTheme();
}

void SettingsView::applyTheme() {
    setPalette(theme_.palette());
    QPalette secondary = theme_.palette();
    secondary.setColor(QPalette::WindowText, theme_.secondary());
    for (QLabel* caption : captions_) {
        caption->setFont(theme_.caption());
        caption->setPalette(secondary);
    }
    for (QLabel* header : headers_) {
        QFont font = theme_.callout();
        font.setWeight(QFont::DemiBold);
        header->setFont(font);
        header->setPalette(secondary);
    }
    if (markerBadge_ != nullptr) {
        QFont font = theme_.callout();
        font.setWeight(QFont::DemiBold);
        markerBadge_->setFont(font);
    }
    if (sampleText_ != nullptr) {
        QFont mono(QStringLiteral("DejaVu Sans Mono"));
        mono.setStyleHint(QFont::Monospace);
        mono.setPixelSize(theme_.caption().pixelSize() > 0 ? theme_.caption().pixelSize() : 11);
        sampleText_->setFont(mono);
    }
    update();
}

void SettingsView::refresh() {
    const auto& recorder = *models_.recorder;
    const auto desktopTrigger = options_.desktopTrigger();
    const QString shortcut =
        fromStd(desktopTrigger ? *desktopTrigger : recorder.combo().displayString());
    shortcutLabel_->setText(shortcut);
    recordButton_->setText(recorder.isRecording() ? QStringLiteral("Cancel")
                                                  : QStringLiteral("Record"));
    shortcutMessage_->setText(fromStd(recorder.message().value_or("")));
    shortcutMessage_->setVisible(recorder.message().has_value());
    desktopHint_->setVisible(options_.desktopBindsShortcut());

    iconToggle_->setChecked(showIcon_);
    iconCaption_->setText(menuBarHint(shortcut));

    const auto& login = *models_.launchAtLogin;
    loginToggle_->setChecked(login.isOn());
    loginMessage_->setText(fromStd(login.message().value_or("")));
    loginMessage_->setVisible(login.message().has_value());
    loginItemsButton_->setVisible(login.status() == LoginItemStatus::requiresApproval);

    if (automaticChecks_ != nullptr) {
        automaticChecks_->setChecked(models_.updates->automaticChecks());
        checkButton_->setEnabled(models_.updates->canCheck());
    }
    if (crashToggle_ != nullptr) {
        crashToggle_->setChecked(models_.crash->isOn());
    }
}

} // namespace brindell
