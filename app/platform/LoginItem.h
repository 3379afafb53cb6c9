#pragma once

namespace zorvane {

// The application's own start-at-login registration.
class LoginItem {
public:
    enum class Status { notRegistered, enabled, requiresApproval, notFound };
    virtual ~LoginItem() = default;
    virtual Status status() = 0;
    // Both throw std::system_error when the system refuses.
    virtual void registerItem() = 0;
    virtual void unregisterItem() = 0;
};

} // namespace zorvane
