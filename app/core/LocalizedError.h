#pragma once

#include <exception>
#include <string>

namespace zorvane {

// Base of the errors a service throws on purpose: each carries the Spanish text the user sees.
class LocalizedError : public std::exception {
public:
    virtual std::string localizedDescription() const = 0;

    const char* what() const noexcept override
    {
        try {
            cachedDescription_ = localizedDescription();
        } catch (...) {
            return "";
        }
        return cachedDescription_.c_str();
    }

private:
    mutable std::string cachedDescription_;
};

// The text to show for any failure: our own errors give their Spanish description, others
// (std::system_error from the OS) give what().
std::string describe(const std::exception& error);
std::string describe(std::exception_ptr error);

} // namespace zorvane
