#include "app/selection/ScreenCaptureService.h"

#include "app/selection/PNGEncoder.h"

#include <limits>

namespace zorvane {

namespace {

// Whether the buffer really holds the rows it claims; a short one would be read past its end.
bool holdsItsRows(const WindowImage& image)
{
    if (image.width == 0 || image.height == 0) return false;
    const std::size_t rowBytes = static_cast<std::size_t>(image.width) * 4;
    if (image.stride < rowBytes || image.pixels.size() < rowBytes) return false;
    return (image.pixels.size() - rowBytes) / image.stride >= image.height - 1;
}

} // namespace

std::string ScreenCaptureService::CaptureError::localizedDescription() const
{
    switch (code_) {
    case Code::permissionMissing: return "Activa Grabación de pantalla para adjuntar contenido visual.";
    case Code::captureFailed: return "No se pudo capturar el elemento seleccionado.";
    case Code::encodingFailed: return "No se pudo preparar la captura para Codex.";
    }
    return "No se pudo capturar el elemento seleccionado.";
}

ScreenCaptureService::ScreenCaptureService(std::shared_ptr<Permissions> permissions, std::shared_ptr<WindowImages> windowImages)
    : permissions_(std::move(permissions)), windowImages_(std::move(windowImages))
{
}

std::vector<std::uint8_t> ScreenCaptureService::capture(const Rect& quartzRect, std::optional<std::int64_t> excludingWindowNumber) const
{
    if (!permissions_->isScreenRecordingGranted()) throw CaptureError(CaptureError::Code::permissionMissing);

    std::optional<WindowNumber> belowWindow;
    if (excludingWindowNumber) {
        // A number that names no window could only capture the wrong windows; refuse it.
        if (*excludingWindowNumber < 0 || *excludingWindowNumber > std::numeric_limits<WindowNumber>::max())
            throw CaptureError(CaptureError::Code::captureFailed);
        belowWindow = static_cast<WindowNumber>(*excludingWindowNumber);
    }

    const std::optional<WindowImage> image = windowImages_->compositeImage(quartzRect, belowWindow);
    if (!image || !holdsItsRows(*image)) throw CaptureError(CaptureError::Code::captureFailed);

    auto png = PNGEncoder::encodeBGRX(image->pixels.data(), image->pixels.size(), image->width, image->height, image->stride);
    if (!png) throw CaptureError(CaptureError::Code::encodingFailed);
    return std::move(*png);
}

} // namespace zorvane
