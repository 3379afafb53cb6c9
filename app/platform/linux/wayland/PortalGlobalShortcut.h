#pragma once

#include <QDBusMessage>
#include <QObject>
#include <QVariantMap>
#include <QString>

#include <functional>

namespace zorvane {

// "Seleccionar en pantalla" as a global shortcut through the GlobalShortcuts portal (KDE Plasma;
// the user changes the keys in the system settings). Plasma 5.27 registers only the shortcuts
// named in CreateSession's own "shortcuts" option and ignores BindShortcuts' list, so both carry
// it. Nothing happens where the portal is missing or refuses. Main thread only.
class PortalGlobalShortcut final : public QObject {
    Q_OBJECT
public:
    static constexpr const char* shortcutId = "select";
    static constexpr const char* preferredTrigger = "CTRL+ALT+space";

    explicit PortalGlobalShortcut(std::function<void()> activated);
    // Asks the portal for a session and binds the shortcut; returns at once.
    void start();

private slots:
    void onSessionCreated(uint code, const QVariantMap& results);
    void onActivated(const QDBusMessage& signal);

private:
    static QString objectPath(const char* kind, const QString& token);

    std::function<void()> activated_;
    QString session_;
};

} // namespace zorvane
