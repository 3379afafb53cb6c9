#include "app/ui/settings/ShortcutRow.h"

#include "app/ui/DesktopTriggers.h"
#include "app/ui/settings/SettingsForm.h"

#include <QHBoxLayout>

namespace zorvane::ui {

QWidget* makeShortcutRow()
{
    const DesktopTriggers& triggers = DesktopTriggers::shared();
    if (triggers.customShortcut) {
        auto* row = new QWidget;
        row->setObjectName(QStringLiteral("shortcutRow"));
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* state = textLabel({}, TextStyle::body, true, row);
        state->setObjectName(QStringLiteral("shortcutState"));
        auto* button = styledButton({}, "bordered", "customShortcutButton", row);
        layout->addWidget(state, 1);
        layout->addWidget(button, 0, Qt::AlignVCenter);
        const auto show = [state, button](const std::optional<std::string>& keys, const QString& failure = {}) {
            state->setText(!failure.isEmpty() ? failure
                    : keys ? QStringLiteral("Atajo de teclado de GNOME: %1").arg(QString::fromStdString(*keys))
                           : QStringLiteral("Añade un atajo de GNOME que ejecute «Zorvane --select» (Ctrl+Alt+Espacio si está libre)."));
            button->setText(keys ? QStringLiteral("Quitar atajo") : QStringLiteral("Añadir atajo"));
        };
        show(triggers.customShortcut());
        QObject::connect(button, &QPushButton::clicked, row, [show] {
            const DesktopTriggers& t = DesktopTriggers::shared();
            try {
                if (t.customShortcut()) {
                    t.removeCustomShortcut();
                    show(std::nullopt);
                } else {
                    show(t.addCustomShortcut());
                }
            } catch (const std::exception& error) {
                show(t.customShortcut(), QString::fromStdString(error.what()));
            }
        });
        return row;
    }
    if (triggers.shortcutNote.isEmpty()) return nullptr;
    auto* note = textLabel(triggers.shortcutNote, TextStyle::body, true);
    note->setObjectName(QStringLiteral("shortcutNote"));
    note->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return note;
}

QWidget* makeHelperRow()
{
    if (!DesktopTriggers::shared().installHelper) return nullptr;
    auto* row = new QWidget;
    row->setObjectName(QStringLiteral("helperRow"));
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* state = textLabel({}, TextStyle::body, true, row);
    state->setObjectName(QStringLiteral("helperState"));
    auto* button = styledButton({}, "bordered", "helperButton", row);
    layout->addWidget(state, 1);
    layout->addWidget(button, 0, Qt::AlignVCenter);
    const auto show = [state, button](bool installed, const QString& failure = {}) {
        state->setText(!failure.isEmpty() ? failure
                : installed ? QStringLiteral("Extensión para GNOME instalada; se activa al iniciar sesión.")
                            : QStringLiteral("La extensión para GNOME reconoce el elemento bajo el puntero y la sacudida."));
        button->setText(installed ? QStringLiteral("Quitar extensión") : QStringLiteral("Instalar extensión"));
    };
    show(DesktopTriggers::shared().helperInstalled());
    QObject::connect(button, &QPushButton::clicked, row, [show] {
        const DesktopTriggers& t = DesktopTriggers::shared();
        try {
            if (t.helperInstalled()) t.removeHelper();
            else t.installHelper();
            show(t.helperInstalled());
        } catch (const std::exception& error) {
            show(t.helperInstalled(), QString::fromStdString(error.what()));
        }
    });
    return row;
}

} // namespace zorvane::ui
