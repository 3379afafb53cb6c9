#include "app/ui/Accessibility.h"

#include <QAbstractButton>
#include <QAccessibleWidget>
#include <QWidget>

namespace zorvane::ui::Accessibility {
namespace {

const char* const roleProperty = "zorvaneAccessibleRole";

// One choice among several (a segment, a settings tab): checked or selected, and pressed to choose it.
class ChoiceButton : public QAccessibleWidget {
public:
    ChoiceButton(QAbstractButton* button, QAccessible::Role role) : QAccessibleWidget(button, role) {}

    QString text(QAccessible::Text kind) const override
    {
        QString text = QAccessibleWidget::text(kind);
        if (kind == QAccessible::Name && text.isEmpty()) text = button()->text().remove(QLatin1Char('&'));
        return text;
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.checkable = true;
        state.checked = button()->isChecked();
        if (role() == QAccessible::PageTab) {
            state.selectable = true;
            state.selected = button()->isChecked();
        }
        return state;
    }

    QStringList actionNames() const override { return QStringList(pressAction()) + QAccessibleWidget::actionNames(); }

    void doAction(const QString& action) override
    {
        if (action == pressAction()) {
            button()->click();
            return;
        }
        QAccessibleWidget::doAction(action);
    }

private:
    QAbstractButton* button() const { return static_cast<QAbstractButton*>(widget()); }
};

QAccessibleInterface* describe(const QString&, QObject* object)
{
    if (!object || !object->isWidgetType()) return nullptr;
    const QVariant role = object->property(roleProperty);
    if (!role.isValid()) return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    const auto kind = static_cast<QAccessible::Role>(role.toInt());
    auto* button = qobject_cast<QAbstractButton*>(widget);
    if (button && (kind == QAccessible::RadioButton || kind == QAccessible::PageTab)) return new ChoiceButton(button, kind);
    return new QAccessibleWidget(widget, kind);
}

} // namespace

void install()
{
    static bool installed = false;
    if (installed) return;
    installed = true;
    // Asked before the toolkit's own description: the last factory installed answers first.
    QAccessible::installFactory(describe);
}

void setRole(QWidget* widget, QAccessible::Role role)
{
    if (!widget) return;
    widget->setProperty(roleProperty, static_cast<int>(role));
    // The toolkit describes a widget as soon as something about it is announced, even while it is
    // built (a button's text): such a description goes, the next one has the role.
    if (QAccessibleInterface* described = QAccessible::queryAccessibleInterface(widget); described && described->role() != role)
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(described));
}

} // namespace zorvane::ui::Accessibility
