#include "shell/Accessibility.h"

#include "shell/MasterSection.h"
#include "shell/MixerView.h"
#include "shell/PanelWidgets.h"
#include "shell/SourceRowView.h"
#include "shell/VolumeSlider.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>

namespace brindell {

namespace {

class SliderAccessible final : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit SliderAccessible(VolumeSlider* slider)
        : QAccessibleWidget(slider, QAccessible::Slider) {}

    VolumeSlider* slider() const { return static_cast<VolumeSlider*>(widget()); }

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface) {
            return static_cast<QAccessibleValueInterface*>(this);
        }
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text type) const override {
        if (type == QAccessible::Value) {
            return VolumeSlider::describe(slider()->volume());
        }
        return QAccessibleWidget::text(type);
    }
    QVariant currentValue() const override { return slider()->volume(); }
    void setCurrentValue(const QVariant& value) override {
        slider()->setValue(qRound(value.toDouble() * VolumeSlider::steps));
    }
    QVariant maximumValue() const override { return 1.0; }
    QVariant minimumValue() const override { return 0.0; }
    QVariant minimumStepSize() const override { return 0.01; }
};

class MenuAccessible final : public QAccessibleWidget {
public:
    explicit MenuAccessible(MenuButton* button)
        : QAccessibleWidget(button, QAccessible::ButtonMenu) {
        addControllingSignal(QStringLiteral("clicked(bool)"));
    }
    QString text(QAccessible::Text type) const override {
        if (type == QAccessible::Value) {
            return static_cast<MenuButton*>(widget())->accessibleValue();
        }
        return QAccessibleWidget::text(type);
    }
    QStringList actionNames() const override { return {showMenuAction()}; }
    void doAction(const QString& name) override {
        if (name == showMenuAction() || name == pressAction()) {
            static_cast<MenuButton*>(widget())->openMenu();
        }
    }
};

class HiddenAccessible final : public QAccessibleWidget {
public:
    explicit HiddenAccessible(QWidget* widget) : QAccessibleWidget(widget, QAccessible::NoRole) {}
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.invisible = true;
        return state;
    }
};

QAccessibleInterface* panelAccessibility(const QString& className, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget == nullptr) {
        return nullptr;
    }
    if (className == QLatin1String("brindell::VolumeSlider")) {
        return new SliderAccessible(static_cast<VolumeSlider*>(widget));
    }
    if (className == QLatin1String("brindell::MenuButton")) {
        return new MenuAccessible(static_cast<MenuButton*>(widget));
    }
    if (className == QLatin1String("brindell::Decoration")) {
        return new HiddenAccessible(widget);
    }
    if (className == QLatin1String("brindell::SourceRowView") ||
        className == QLatin1String("brindell::PermissionBannerView") ||
        className == QLatin1String("brindell::MasterSection")) {
        return new QAccessibleWidget(widget, QAccessible::Grouping);
    }
    if (className == QLatin1String("brindell::SymbolTextLabel")) {
        return new QAccessibleWidget(widget, QAccessible::StaticText);
    }
    return nullptr;
}

} // namespace

void installAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(panelAccessibility);
        return true;
    }();
    (void)installed;
}

} // namespace brindell
