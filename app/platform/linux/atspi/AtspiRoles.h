#pragma once

#include <atspi/atspi.h>

#include <string_view>

namespace zorvane::AtspiRoles {

// The role name the selection scoring knows ("AXButton", "AXImage", …) for an AT-SPI role;
// "AXUnknown" for roles nobody points at on purpose.
std::string_view axRole(AtspiRole role);

// What the role is called in the Spanish interface, lower-case ("botón", "enlace", "imagen"),
// whatever the session's language; "elemento" for roles without a name of their own.
std::string_view spanishName(AtspiRole role);

} // namespace zorvane::AtspiRoles
