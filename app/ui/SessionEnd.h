#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace zorvane::ui {

// The ways a desktop session ends us, turned into calls on the event loop. SIGTERM (what a logout
// sends), SIGINT, SIGHUP and a lost session bus ask to quit, as "Salir" does. A lost display asks to
// end at once: the toolkit exits on the spot the next time it looks at the display.
class SessionEnd : public QObject {
    Q_OBJECT
public:
    SessionEnd(std::function<void()> quit, std::function<void()> endNow);
    // Gives the signals their default action back.
    ~SessionEnd() override;

    // Watches a descriptor that becomes readable when the display goes away; `isLost` says
    // whether it has.
    void watchDisplay(int descriptor, std::function<bool()> isLost);
    // A display connection was lost. From any thread.
    static void reportLostDisplay();

private slots:
    void busDisconnected();

private:
    void readRequests();

    std::function<void()> quit_;
    std::function<void()> endNow_;
    std::function<bool()> displayLost_;
    QSocketNotifier* requests_ = nullptr;
    QSocketNotifier* display_ = nullptr;
};

} // namespace zorvane::ui
