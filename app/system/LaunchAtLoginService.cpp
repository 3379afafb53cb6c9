#include "app/system/LaunchAtLoginService.h"

namespace zorvane {

void LaunchAtLoginService::setEnabled(bool enabled)
{
    const bool on = item_->status() == LoginItem::Status::enabled;
    if (enabled && !on) item_->registerItem();
    if (!enabled && on) item_->unregisterItem();
}

} // namespace zorvane
