#include "app/core/LocalizedError.h"

namespace zorvane {

std::string describe(const std::exception& error)
{
    if (const auto* localized = dynamic_cast<const LocalizedError*>(&error)) return localized->localizedDescription();
    return error.what();
}

std::string describe(std::exception_ptr error)
{
    try {
        if (error) std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return describe(e);
    } catch (...) {
    }
    return "Error desconocido";
}

} // namespace zorvane
