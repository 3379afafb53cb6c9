#pragma once

#include <QObject>

#include <functional>
#include <memory>

namespace zorvane::ui {

// One Zorvane per user session, on the session bus as "com.quenvar.Zorvane". The first program
// owns the name and answers requests; a later one hands its request over and exits.
class SingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.quenvar.Zorvane")
public:
    enum class Request { showMenu, select, openSettings };

    static constexpr const char* serviceName = "com.quenvar.Zorvane";
    static constexpr const char* objectPath = "/com/quenvar/Zorvane";

    enum class Claim {
        owner,      // this process is the instance; `instance` answers the requests
        handedOver, // another instance runs and took the request
        alone,      // no session bus: this process runs on its own
        unanswered, // another instance holds the name but did not answer
    };
    struct Result {
        Claim claim;
        std::unique_ptr<SingleInstance> instance; // only for `owner`
    };

    // Takes the name, or hands `request` to the process that has it.
    static Result claim(Request request);

    // Runs on the main thread for each request of a later launch.
    std::function<void(Request)> onRequest;

public slots:
    Q_SCRIPTABLE void ShowMenu();
    Q_SCRIPTABLE void Select();
    Q_SCRIPTABLE void OpenSettings();

private:
    SingleInstance() = default;
    void deliver(Request request);
};

} // namespace zorvane::ui
