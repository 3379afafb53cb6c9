#include "app/ui/DesktopTriggers.h"

namespace zorvane::ui {

DesktopTriggers& DesktopTriggers::shared()
{
    static DesktopTriggers triggers;
    return triggers;
}

} // namespace zorvane::ui
