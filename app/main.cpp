#include "app/CommandLine.h"
#include "app/DesktopProgram.h"
#include "app/ui/DesktopApplication.h"
#include "app/ui/InstanceHandover.h"
#include "app/ui/QtMainQueue.h"
#include "app/ui/SessionEnd.h"
#include "app/ui/SingleInstance.h"
#include "app/ui/Symbols.h"

#include <QApplication>

#include <cstdlib>
#include <iostream>

namespace {

// The running program, for the one way out that does not come back through main: the toolkit's
// exit when its display connection breaks before we noticed.
zorvane::DesktopProgram* running = nullptr;

void endProgram()
{
    // Cleared first: a second way out met during the teardown finds nothing left to do.
    delete std::exchange(running, nullptr);
}

} // namespace

// The program proper, run by the launcher (app/launcher/) when no running instance took the request.
extern "C" __attribute__((visibility("default"))) int zorvaneDesktopMain(int argc, char** argv)
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

    // Without a display the toolkit would abort; say what is missing instead.
    const std::optional<SessionKind> session = chooseSession();
    if (!session) {
        std::cerr << "Zorvane necesita un escritorio gráfico: no encuentro ninguna pantalla.\n";
        return 1;
    }

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
    running = new DesktopProgram(*session, {request.uiTest, std::make_shared<ui::QtMainQueue>()});
    std::atexit(endProgram);

    // Every end takes the path of "Salir": the program torn down before the toolkit goes.
    const auto quit = [] { QApplication::quit(); };
    ui::SessionEnd sessionEnd(quit, [quit] {
        endProgram();
        quit();
    });
    const Composition::DisplayWatch display = running->composition().watchDisplay(ui::SessionEnd::reportLostDisplay);
    if (display.descriptor >= 0) sessionEnd.watchDisplay(display.descriptor, display.isLost);

    if (instance.instance) {
        instance.instance->onRequest = [](Request r) {
            if (running) running->desktop().handle(r);
        };
    }
    running->start(first);
    const int status = QApplication::exec();
    endProgram();
    return status;
}
