#pragma once

#include "app/platform/LoginItem.h"

#include <memory>

namespace zorvane {

// Switches the application's login item; the caller reads the resulting state from the item.
class LaunchAtLoginService {
public:
    explicit LaunchAtLoginService(std::shared_ptr<LoginItem> item) : item_(std::move(item)) {}

    // An item waiting for the user's approval counts as off. Throws what the system throws.
    void setEnabled(bool enabled);
    bool isEnabled() const { return item_->status() == LoginItem::Status::enabled; }

private:
    std::shared_ptr<LoginItem> item_;
};

} // namespace zorvane
