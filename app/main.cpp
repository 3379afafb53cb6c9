#include "app/CommandLine.h"
#include "app/platform/linux/LinuxPlatform.h"
#include "app/platform/linux/wayland/WaylandSession.h"
#include "app/ui/DesktopApplication.h"
#include "app/ui/InstanceHandover.h"
#include "app/ui/QtMainQueue.h"
#include "app/ui/SingleInstance.h"
#include "app/ui/Symbols.h"

#include <QApplication>

#include <iostream>

int main(int argc, char** argv)
{
    using namespace zorvane;
    using Request = ui::SingleInstance::Request;
    const CommandLineParse parsed = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.request) {
        std::cerr << parsed.error << '\n' << commandLineUsage();
        return 2;
    }
    const CommandLineRequest& request = *parsed.request;
    if (request.action == CommandLineRequest::Action::ask) return runAsk(request, std::cout, std::cerr);
    if (request.action == CommandLineRequest::Action::showUsage) {
        std::cout << commandLineUsage();
        return 0;
    }
    const Request first = request.action == CommandLineRequest::Action::select         ? Request::select
                          : request.action == CommandLineRequest::Action::openSettings ? Request::openSettings
                                                                                       : Request::showMenu;

    // A later launch hands its request over before starting a toolkit of its own.
    if (ui::handOverToRunningInstance(first == Request::select ? "Select" : first == Request::openSettings ? "OpenSettings" : "ShowMenu")) {
        return 0;
    }

    wayland::choosePlatformBeforeQt();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zorvane"));
    QApplication::setDesktopFileName(QStringLiteral("com.quenvar.Zorvane"));
    QApplication::setQuitOnLastWindowClosed(false);

    // One instance per session: a later launch hands its request over and ends.
    auto instance = ui::SingleInstance::claim(first);
    if (instance.claim == ui::SingleInstance::Claim::handedOver) return 0;
    if (instance.claim == ui::SingleInstance::Claim::unanswered) {
        std::cerr << "Zorvane ya está abierto pero no responde.\n";
        return 1;
    }

    ui::Symbols::installIconTheme();
    LinuxPlatform platform({request.uiTest, std::make_shared<ui::QtMainQueue>()});
    auto model = AppModel::create(platform.appPlatform());
    ui::DesktopApplication desktop(model, platform.openSettings(), platform.appPlatform().bundle->resourcesPath());
    if (instance.instance) instance.instance->onRequest = [&desktop](Request r) { desktop.handle(r); };
    platform.startSelectionShortcut([&desktop] { desktop.handle(Request::select); });
    desktop.startOnEventLoop(first);
    return QApplication::exec();
}
