#include "app/ui/SingleInstance.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QMetaObject>

namespace zorvane::ui {
namespace {

const char* methodFor(SingleInstance::Request request)
{
    switch (request) {
    case SingleInstance::Request::select: return "Select";
    case SingleInstance::Request::openSettings: return "OpenSettings";
    case SingleInstance::Request::showMenu: break;
    }
    return "ShowMenu";
}

} // namespace

SingleInstance::Result SingleInstance::claim(Request request)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()) return {Claim::alone, nullptr};

    std::unique_ptr<SingleInstance> instance(new SingleInstance);
    // The object first, so a request that arrives right after the name is taken finds it.
    bus.registerObject(QString::fromLatin1(objectPath), instance.get(), QDBusConnection::ExportScriptableSlots);
    const auto reply = bus.interface()->registerService(QString::fromLatin1(serviceName), QDBusConnectionInterface::DontQueueService,
                                                         QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered) return {Claim::owner, std::move(instance)};
    bus.unregisterObject(QString::fromLatin1(objectPath));

    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(serviceName), QString::fromLatin1(objectPath),
                                                       QString::fromLatin1("com.quenvar.Zorvane"), QString::fromLatin1(methodFor(request)));
    const QDBusMessage answer = bus.call(call, QDBus::Block, 3000);
    if (answer.type() == QDBusMessage::ReplyMessage) return {Claim::handedOver, nullptr};
    return {Claim::unanswered, nullptr};
}

void SingleInstance::deliver(Request request)
{
    // Answered first, acted on in the next turn: the caller never waits for a window to open.
    QMetaObject::invokeMethod(
        this, [this, request] {
            if (onRequest) onRequest(request);
        },
        Qt::QueuedConnection);
}

void SingleInstance::ShowMenu() { deliver(Request::showMenu); }
void SingleInstance::Select() { deliver(Request::select); }
void SingleInstance::OpenSettings() { deliver(Request::openSettings); }

} // namespace zorvane::ui
