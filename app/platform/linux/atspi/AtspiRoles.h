#pragma once

#include <atspi/atspi.h>

#include <string_view>

namespace zorvane::AtspiRoles {

// The role name the selection scoring knows ("AXButton", "AXImage", …) for an AT-SPI role;
// "AXUnknown" for roles nobody points at on purpose.
std::string_view axRole(AtspiRole role);

} // namespace zorvane::AtspiRoles
