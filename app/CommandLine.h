#pragma once

#include "app/core/CapturedContext.h"

#include <optional>
#include <string>
#include <vector>

namespace zorvane {

// What the program was asked to do from its command line.
struct CommandLineRequest {
    enum class Action { showUsage, ask, startApplication, select, openSettings };
    Action action = Action::startApplication;
    std::string question;
    std::optional<std::string> imagePath;
    std::optional<AIResponseMode> mode; // none: from the settings
    bool uiTest = false;
};

// The parsed request, or the Spanish explanation of what is wrong with the arguments.
struct CommandLineParse {
    std::optional<CommandLineRequest> request;
    std::string error;
};

CommandLineParse parseCommandLine(const std::vector<std::string>& arguments);
std::string commandLineUsage();

// Runs `--ask`: prints the answer on `out` and returns 0, or the failure on `err` and returns 1.
int runAsk(const CommandLineRequest& request, std::ostream& out, std::ostream& err);

} // namespace zorvane
