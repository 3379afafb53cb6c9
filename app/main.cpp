#include "app/CommandLine.h"

#include <iostream>

int main(int argc, char** argv)
{
    using namespace zorvane;
    const CommandLineParse parsed = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.request) {
        std::cerr << parsed.error << '\n' << commandLineUsage();
        return 2;
    }
    switch (parsed.request->action) {
    case CommandLineRequest::Action::ask: return runAsk(*parsed.request, std::cout, std::cerr);
    case CommandLineRequest::Action::showUsage:
        std::cout << commandLineUsage();
        return 0;
    case CommandLineRequest::Action::startApplication:
        // The desktop interface is not built yet; until then the program explains its command line.
        std::cout << "Zorvane: la interfaz de escritorio aún no está disponible.\n" << commandLineUsage();
        return 0;
    }
    return 0;
}
