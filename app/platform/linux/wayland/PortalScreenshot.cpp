#include "app/platform/linux/wayland/WaylandDesktopCapture.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusObjectPath>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

namespace zorvane {

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");

const char* const gnomeRemembersNo
    = "GNOME recuerda que no diste permiso a Zorvane para capturar la pantalla. Para que vuelva a preguntarte, ejecuta en "
      "una terminal:\ngdbus call --session --dest org.freedesktop.impl.portal.PermissionStore --object-path "
      "/org/freedesktop/impl/portal/PermissionStore --method org.freedesktop.impl.portal.PermissionStore.DeletePermission "
      "screenshot screenshot ''\ny vuelve a intentarlo.";

class PortalScreenshot final : public QObject, public SnapshotSource {
    Q_OBJECT
public:
    explicit PortalScreenshot(wayland::Desktop desktop) : desktop_(desktop)
    {
        timer_.setSingleShot(true);
        connect(&timer_, &QTimer::timeout, this, [this] {
            closeRequest();
            finish(CaptureRefusal {"El escritorio no respondió a la captura de pantalla en "
                + std::to_string(timer_.interval() / 1000) + " segundos. Vuelve a intentarlo."});
        });
    }

    void take(const std::vector<SnapshotScreen>& screens, double limitSeconds, SnapshotDone done) override
    {
        if (done_) {
            done(CaptureRefusal {"Ya hay una captura de pantalla en curso. Espera a que termine."});
            return;
        }
        screens_ = screens;
        done_ = std::move(done);
        timer_.start(int(limitSeconds * 1000));

        if (desktop_ == wayland::Desktop::kde) {
            // KDE's portal saves into the pictures folder and gives up when it is missing.
            picturesFolder_ = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
            if (!picturesFolder_.isEmpty() && !QDir().mkpath(picturesFolder_)) {
                finish(CaptureRefusal {"El portal de KDE guarda las capturas en tu carpeta de imágenes (" + picturesFolder_.toStdString()
                    + ") y no se pudo crear. Créala y vuelve a intentarlo."});
                return;
            }
        }

        QDBusConnection bus = QDBusConnection::sessionBus();
        const QString token = QStringLiteral("zorvane%1").arg(++requests_);
        requestPath_ = portalPath + QStringLiteral("/request/") + bus.baseService().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'))
            + QLatin1Char('/') + token;
        // Listening before asking: the answer may come before the call returns.
        bus.connect(portalService, requestPath_, requestInterface, QStringLiteral("Response"), this, SLOT(onResponse(uint, QVariantMap)));
        QDBusMessage call = QDBusMessage::createMethodCall(portalService, portalPath, QStringLiteral("org.freedesktop.portal.Screenshot"),
            QStringLiteral("Screenshot"));
        call << QString() << QVariantMap {{QStringLiteral("handle_token"), token}, {QStringLiteral("interactive"), false}};
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, int(limitSeconds * 1000)), this);
        const QString path = requestPath_;
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, path] {
            watcher->deleteLater();
            if (!watcher->isError() || path != requestPath_) return;
            finish(CaptureRefusal {"No hay un portal de capturas de pantalla en esta sesión. Instala xdg-desktop-portal y el "
                                   "portal de tu escritorio (xdg-desktop-portal-gnome, -kde o -wlr) y vuelve a intentarlo."});
        });
    }

private slots:
    void onResponse(uint code, const QVariantMap& results)
    {
        if (!done_) return;
        if (code != 0) {
            finish(refusalFor(code));
            return;
        }
        const QString file = QUrl(results.value(QStringLiteral("uri")).toString()).toLocalFile();
        QFile picture(file);
        const QByteArray bytes = picture.open(QIODevice::ReadOnly) ? picture.readAll() : QByteArray();
        // Nothing captured stays on the disk.
        if (!file.isEmpty()) QFile::remove(file);
        QImage image = QImage::fromData(bytes, "PNG");
        if (image.isNull()) {
            finish(CaptureRefusal {"El portal de capturas entregó una imagen que no se puede leer. Vuelve a intentarlo."});
            return;
        }
        std::vector<Rect> bounds;
        for (const auto& screen : screens_) bounds.push_back(screen.quartzBounds);
        finish(DesktopSnapshot::ofLayout(std::move(image), bounds));
    }

private:
    CaptureRefusal refusalFor(uint code) const
    {
        if (desktop_ == wayland::Desktop::gnome) {
            if (WaylandDesktopCapture::gnomeScreenshotPermission() == false) return {gnomeRemembersNo};
            return {"Cancelaste la captura de pantalla. Vuelve a intentarlo y elige Permitir cuando GNOME te lo pregunte."};
        }
        if (desktop_ == wayland::Desktop::kde)
            return {"El portal de KDE no pudo guardar la captura en tu carpeta de imágenes (" + picturesFolder_.toStdString()
                + "). Comprueba que puedes escribir en ella y vuelve a intentarlo."};
        return {code == 1 ? "Se canceló la captura de pantalla. Vuelve a intentarlo."
                          : "El escritorio rechazó la captura de pantalla. Revisa los permisos de capturas de tu escritorio y "
                            "vuelve a intentarlo."};
    }

    void closeRequest()
    {
        if (requestPath_.isEmpty()) return;
        QDBusConnection::sessionBus().asyncCall(QDBusMessage::createMethodCall(portalService, requestPath_, requestInterface, QStringLiteral("Close")));
    }

    void finish(SnapshotOutcome outcome)
    {
        timer_.stop();
        QDBusConnection::sessionBus().disconnect(portalService, requestPath_, requestInterface, QStringLiteral("Response"), this,
            SLOT(onResponse(uint, QVariantMap)));
        requestPath_.clear();
        screens_.clear();
        if (auto done = std::exchange(done_, {})) done(std::move(outcome));
    }

    wayland::Desktop desktop_;
    QTimer timer_;
    SnapshotDone done_;
    std::vector<SnapshotScreen> screens_;
    QString requestPath_;
    QString picturesFolder_;
    unsigned requests_ = 0;
};

} // namespace

std::unique_ptr<SnapshotSource> makePortalScreenshot(wayland::Desktop desktop) { return std::make_unique<PortalScreenshot>(desktop); }

} // namespace zorvane

#include "PortalScreenshot.moc"
