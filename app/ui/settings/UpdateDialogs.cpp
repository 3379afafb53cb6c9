#include "app/ui/settings/UpdateDialogs.h"

#include "app/ui/Language.h"
#include "app/ui/Theme.h"
#include "app/ui/settings/SettingsForm.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace zorvane::ui {

UpdateDialogs::~UpdateDialogs() { delete current_.data(); }

void UpdateDialogs::present(const QString& title, const QString& text, const QString& accept, const QString& decline,
    std::function<void(bool)> reply)
{
    // One at a time: a newer question replaces one still open, which then counts as declined.
    if (current_) current_->close();
    Language::install();
    auto* box = new QMessageBox;
    box->setObjectName(QStringLiteral("updateDialog"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle(QStringLiteral("Actualizaciones de Zorvane"));
    // Plain text: the versions and reasons come from the update feed, which is not ours to trust.
    box->setTextFormat(Qt::PlainText);
    box->setText(title);
    box->setInformativeText(text);
    if (auto* informative = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"))) {
        informative->setTextFormat(Qt::PlainText);
        informative->setOpenExternalLinks(false);
    }
    box->setIcon(QMessageBox::NoIcon);
    QPushButton* acceptButton = box->addButton(accept, QMessageBox::AcceptRole);
    acceptButton->setObjectName(QStringLiteral("acceptButton"));
    acceptButton->setProperty("kind", QStringLiteral("prominent"));
    if (!decline.isEmpty()) box->addButton(decline, QMessageBox::RejectRole)->setProperty("kind", QStringLiteral("bordered"));
    box->setDefaultButton(acceptButton);
    const auto restyle = [box] {
        Theme::shared().apply(box);
        box->setStyleSheet(windowStyleSheet()
            + QStringLiteral("QMessageBox { background: %1; } QLabel#qt_msgbox_informativelabel { min-width: 320px; }")
                  .arg(Theme::shared().colors().surface.name()));
    };
    restyle();
    QObject::connect(&Theme::shared(), &Theme::changed, box, restyle); // light and dark while it is open
    auto answered = std::make_shared<bool>(false);
    QObject::connect(box, &QMessageBox::buttonClicked, box, [acceptButton, reply, answered](QAbstractButton* clicked) {
        if (*answered) return;
        *answered = true;
        if (reply) reply(clicked == acceptButton);
    });
    QObject::connect(box, &QObject::destroyed, [reply, answered] {
        if (*answered) return;
        *answered = true;
        if (reply) reply(false);
    });
    current_ = box;
    box->open();
    box->raise();
    box->activateWindow();
}

void UpdateDialogs::showUpToDate(const std::string& installedVersion)
{
    present(QStringLiteral("Zorvane está actualizado"),
        QStringLiteral("Tienes la versión más reciente (%1).").arg(QString::fromStdString(installedVersion)),
        QStringLiteral("Aceptar"), {}, {});
}

void UpdateDialogs::showUpdateFound(
    const std::string& newVersion, const std::string& installedVersion, std::function<void(bool install)> reply)
{
    present(QStringLiteral("Hay una versión nueva de Zorvane"),
        QStringLiteral("La versión %1 está disponible; tienes la %2. ¿Quieres instalarla ahora?")
            .arg(QString::fromStdString(newVersion), QString::fromStdString(installedVersion)),
        QStringLiteral("Instalar"), QStringLiteral("Más tarde"), std::move(reply));
}

void UpdateDialogs::showReadyToRestart(const std::string& newVersion, std::function<void(bool restartNow)> reply)
{
    present(QStringLiteral("Zorvane %1 está instalado").arg(QString::fromStdString(newVersion)),
        QStringLiteral("Reinicia Zorvane para usar la versión nueva."), QStringLiteral("Reiniciar ahora"),
        QStringLiteral("Más tarde"), std::move(reply));
}

void UpdateDialogs::showFailure(const std::string& message)
{
    present(QStringLiteral("No se pudo actualizar Zorvane"), QString::fromStdString(message), QStringLiteral("Aceptar"), {}, {});
}

} // namespace zorvane::ui
