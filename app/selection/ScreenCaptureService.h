#pragma once

#include "app/core/Geometry.h"
#include "app/core/LocalizedError.h"
#include "app/platform/Permissions.h"
#include "app/platform/WindowImages.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace zorvane {

// Turns a rectangle of the screen into PNG bytes. No state of its own: callable from any thread,
// and the model calls it off the main thread so the interface stays responsive meanwhile.
class ScreenCaptureService {
public:
    class CaptureError : public LocalizedError {
    public:
        enum class Code { permissionMissing, captureFailed, encodingFailed };
        explicit CaptureError(Code code) : code_(code) {}
        Code code() const { return code_; }
        std::string localizedDescription() const override;

    private:
        Code code_;
    };

    ScreenCaptureService(std::shared_ptr<Permissions> permissions, std::shared_ptr<WindowImages> windowImages);

    // The PNG of the rectangle (Quartz global coordinates, points) at the display's pixel
    // density. With excludingWindowNumber, that window and every window above it are left out.
    // Never asks the user for the permission. Throws CaptureError.
    std::vector<std::uint8_t> capture(const Rect& quartzRect, std::optional<std::int64_t> excludingWindowNumber) const;

private:
    std::shared_ptr<Permissions> permissions_;
    std::shared_ptr<WindowImages> windowImages_;
};

} // namespace zorvane
