#include "app/platform/linux/wayland/OffMainThread.h"
#include "app/platform/linux/wayland/WaylandDesktopCapture.h"

#include <QDBusConnection>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace zorvane {

namespace {

using Clock = std::chrono::steady_clock;

// Everything the pipe carries until KWin closes it, or none at the deadline.
std::optional<QByteArray> readAll(int fd, Clock::time_point deadline)
{
    QByteArray data;
    char chunk[1 << 16];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p {fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, int(left)) <= 0) return std::nullopt;
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n == 0) return data;
        if (n < 0 && errno != EINTR && errno != EAGAIN) return std::nullopt;
        if (n > 0) data.append(chunk, n);
    }
}

SnapshotOutcome capture(const std::vector<SnapshotScreen>& screens, Clock::time_point deadline)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return CaptureRefusal {"No se pudo abrir una tubería para la captura de KWin.", true};
    QDBusMessage reply;
    {
        QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.kde.KWin"), QStringLiteral("/org/kde/KWin/ScreenShot2"),
            QStringLiteral("org.kde.KWin.ScreenShot2"), QStringLiteral("CaptureWorkspace"));
        call << QVariantMap {{QStringLiteral("native-resolution"), true}, {QStringLiteral("include-cursor"), false}}
             << QVariant::fromValue(QDBusUnixFileDescriptor(fds[1]));
        ::close(fds[1]); // the message holds its own copy until it is gone: then the pipe can end
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        reply = QDBusConnection::sessionBus().call(call, QDBus::Block, int(std::max<std::int64_t>(left, 1)));
    }
    const auto data = reply.type() == QDBusMessage::ReplyMessage ? readAll(fds[0], deadline) : std::nullopt;
    ::close(fds[0]);
    // Not listed in our desktop entry, or no KWin: the portal may still do it.
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return CaptureRefusal {"KWin no dejó capturar la pantalla: " + reply.errorMessage().toStdString(), true};
    if (!data) return CaptureRefusal {"KWin no entregó la captura a tiempo.", true};

    const QVariantMap results = qdbus_cast<QVariantMap>(reply.arguments().first());
    const int width = results.value(QStringLiteral("width")).toInt(), height = results.value(QStringLiteral("height")).toInt();
    const int stride = results.value(QStringLiteral("stride")).toInt();
    const auto format = static_cast<QImage::Format>(results.value(QStringLiteral("format")).toInt());
    if (width <= 0 || height <= 0 || stride < width * 4 || data->size() < qsizetype(stride) * height || format == QImage::Format_Invalid)
        return CaptureRefusal {"KWin entregó una captura que no se puede leer.", true};
    QImage picture = QImage(reinterpret_cast<const uchar*>(data->constData()), width, height, stride, format).copy();

    std::vector<Rect> bounds;
    for (const auto& screen : screens) bounds.push_back(screen.quartzBounds);
    return DesktopSnapshot::ofLayout(std::move(picture), bounds);
}

} // namespace

std::unique_ptr<SnapshotSource> makeKWinScreenShot() { return std::make_unique<BlockingSnapshotSource>(capture); }

} // namespace zorvane
