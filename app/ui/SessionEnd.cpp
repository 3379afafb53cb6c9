#include "app/ui/SessionEnd.h"

#include <QDBusConnection>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace zorvane::ui {
namespace {

constexpr char quitRequest = 'q';
constexpr char endRequest = 'x';
constexpr int endingSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Written by signal handlers and other threads, read on the event loop.
int requestPipe[2] = {-1, -1};

void send(char request)
{
    const int saved = errno;
    if (requestPipe[1] >= 0) {
        [[maybe_unused]] const ssize_t written = ::write(requestPipe[1], &request, 1);
    }
    errno = saved;
}

void onSignal(int) { send(quitRequest); }

} // namespace

SessionEnd::SessionEnd(std::function<void()> quit, std::function<void()> endNow)
    : quit_(std::move(quit)), endNow_(std::move(endNow))
{
    if (requestPipe[0] < 0 && ::pipe2(requestPipe, O_CLOEXEC | O_NONBLOCK) != 0) requestPipe[0] = requestPipe[1] = -1;
    if (requestPipe[0] >= 0) {
        requests_ = new QSocketNotifier(requestPipe[0], QSocketNotifier::Read, this);
        connect(requests_, &QSocketNotifier::activated, this, &SessionEnd::readRequests);
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (const int signal : endingSignals) ::sigaction(signal, &action, nullptr);
    }
    // libdbus sends this to the connection itself when the bus closes it.
    QDBusConnection::sessionBus().connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"),
        QStringLiteral("org.freedesktop.DBus.Local"), QStringLiteral("Disconnected"), this, SLOT(busDisconnected()));
}

SessionEnd::~SessionEnd()
{
    for (const int signal : endingSignals) std::signal(signal, SIG_DFL);
}

void SessionEnd::watchDisplay(int descriptor, std::function<bool()> isLost)
{
    displayLost_ = std::move(isLost);
    display_ = new QSocketNotifier(descriptor, QSocketNotifier::Read, this);
    connect(display_, &QSocketNotifier::activated, this, [this] {
        if (!displayLost_()) return;
        display_->setEnabled(false);
        endNow_();
    });
}

void SessionEnd::reportLostDisplay() { send(endRequest); }

void SessionEnd::readRequests()
{
    char requests[64];
    bool end = false;
    bool quit = false;
    for (ssize_t n; (n = ::read(requestPipe[0], requests, sizeof requests)) > 0;) {
        for (ssize_t i = 0; i < n; ++i) (requests[i] == endRequest ? end : quit) = true;
    }
    if (end) {
        endNow_();
    } else if (quit) {
        quit_();
    }
}

void SessionEnd::busDisconnected() { quit_(); }

} // namespace zorvane::ui
