#include "app/platform/linux/wayland/HelperWindowFeed.h"

#include "app/platform/linux/wayland/WaylandScreens.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace zorvane {

namespace {

const QString service = QStringLiteral("com.quenvar.Zorvane.WindowHelper");
const QString objectPath = QStringLiteral("/com/quenvar/Zorvane/WindowHelper");
const QString pluginName = QStringLiteral("zorvane-windows");

QDBusMessage scripting(const QString& method, const QVariantList& arguments)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.kde.KWin"), QStringLiteral("/Scripting"),
        QStringLiteral("org.kde.kwin.Scripting"), method);
    call.setArguments(arguments);
    return call;
}

// Calls KWin without waiting; `then` runs on the event loop when it answered (or failed).
void callKWin(const QDBusMessage& call, QObject* context, std::function<void()> then)
{
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, 2000), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context, [then = std::move(then)](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (then) then();
    });
}

} // namespace

std::unique_ptr<HelperWindowFeed> HelperWindowFeed::start(const QString& compositor, const std::filesystem::path& kwinScript,
    std::shared_ptr<CompositorWindows> windows, std::shared_ptr<WaylandEventMonitors> monitors, std::shared_ptr<Clock> clock)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()) return nullptr;
    std::unique_ptr<HelperWindowFeed> feed(new HelperWindowFeed(compositor, std::move(windows), std::move(monitors), std::move(clock)));
    // Another Zorvane of this session has the name: it runs the helper.
    if (!bus.registerService(service)) return nullptr;
    if (!bus.registerObject(objectPath, feed.get(), QDBusConnection::ExportScriptableSlots)) {
        bus.unregisterService(service);
        return nullptr;
    }
    if (!kwinScript.empty()) feed->load(kwinScript);
    return feed;
}

HelperWindowFeed::HelperWindowFeed(const QString& compositor, std::shared_ptr<CompositorWindows> windows,
    std::shared_ptr<WaylandEventMonitors> monitors, std::shared_ptr<Clock> clock)
    : windows_(std::move(windows)), monitors_(std::move(monitors)), clock_(std::move(clock)), compositor_(compositor)
{
}

HelperWindowFeed::~HelperWindowFeed()
{
    // Without us the script would call nobody on every pointer move.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (scriptLoaded_) bus.send(scripting(QStringLiteral("unloadScript"), {pluginName}));
    bus.unregisterObject(objectPath);
    bus.unregisterService(service);
}

void HelperWindowFeed::load(const std::filesystem::path& script)
{
    // A copy from an earlier run (maybe another version of the program) goes first.
    scriptLoaded_ = true;
    const QString path = QString::fromStdString(script.string());
    callKWin(scripting(QStringLiteral("unloadScript"), {pluginName}), this, [this, path] {
        callKWin(scripting(QStringLiteral("loadScript"), {path, pluginName}), this, [this] {
            callKWin(scripting(QStringLiteral("start"), {}), this, nullptr);
        });
    });
}

bool HelperWindowFeed::fromCompositor()
{
    if (!calledFromDBus()) return false;
    const QString sender = message().service();
    if (sender == connection_ && !connection_.isEmpty()) return true;
    // The compositor's connection, asked once (and again should it have restarted).
    connection_ = connection().interface()->serviceOwner(compositor_).value();
    return sender == connection_ && !connection_.isEmpty();
}

std::optional<std::vector<CompositorWindow>> HelperWindowFeed::windowsFromReport(const QString& json)
{
    const QJsonDocument document = QJsonDocument::fromJson(json.toUtf8());
    if (!document.isObject() || !document.object().value("windows").isArray()) return std::nullopt;
    std::vector<CompositorWindow> result;
    for (const auto entry : document.object().value("windows").toArray()) {
        const QJsonObject w = entry.toObject();
        CompositorWindow window;
        const qint64 pid = w.value("pid").toInteger();
        window.pid = pid > 0 && pid <= std::numeric_limits<ProcessID>::max() ? ProcessID(pid) : 0;
        window.title = w.value("title").toString().toStdString();
        window.appID = w.value("app").toString().toStdString();
        window.client = Rect(w.value("x").toDouble(), w.value("y").toDouble(), w.value("width").toDouble(), w.value("height").toDouble());
        window.active = w.value("active").toBool();
        if (w.value("surface").isObject()) {
            const QJsonObject r = w.value("surface").toObject();
            window.surface = Rect(r.value("x").toDouble(), r.value("y").toDouble(), r.value("width").toDouble(), r.value("height").toDouble());
        }
        // The helpers do not tell XWayland's windows apart; their applications' own reports do.
        window.windowRelative = true;
        result.push_back(std::move(window));
    }
    return result;
}

void HelperWindowFeed::Windows(const QString& json)
{
    if (!fromCompositor()) return;
    if (auto windows = windowsFromReport(json)) windows_->publish(std::move(*windows));
}

void HelperWindowFeed::Pointer(const QString& report)
{
    if (!fromCompositor()) return;
    const QStringList parts = report.split(QLatin1Char(' '));
    bool x = false, y = false, t = false;
    if (parts.size() != 3) return;
    const double layoutX = parts[0].toDouble(&x), layoutY = parts[1].toDouble(&y);
    const qint64 at = parts[2].toLongLong(&t);
    if (!x || !y || !t) return;
    // Its time on our clock: how long ago it was, never in the future.
    const double ago = std::max<qint64>(0, QDateTime::currentMSecsSinceEpoch() - at) / 1000.0;
    monitors_->reportGlobalPointer({WaylandScreens::quartzPoint(layoutX, layoutY), clock_->uptime() - std::min(ago, 1.0)});
}

} // namespace zorvane
