#include "app/selection/ScreenCaptureService.h"
#include "fakes/FakeSystem.h"
#include "fakes/FakeWindowSystem.h"

#include <gtest/gtest.h>
#include <png.h>

namespace zorvane {
namespace {

using fakes::FakeWindowImages;

// Distinct red, green and blue in every pixel, so a swapped channel or a shifted row shows.
std::uint32_t pattern(std::uint32_t x, std::uint32_t y)
{
    return 0xFF000000u | ((x * 7 + y) & 0xFF) << 16 | ((y * 13) & 0xFF) << 8 | ((x * 3 + y * 5 + 1) & 0xFF);
}

class ScreenCaptureTest : public ::testing::Test {
protected:
    // The text the user sees when the capture fails.
    std::string failureOf()
    {
        try {
            service.capture(Rect(0, 0, 10, 10), std::nullopt);
        } catch (const ScreenCaptureService::CaptureError& error) {
            return error.localizedDescription();
        }
        return "(no failure)";
    }

    std::shared_ptr<fakes::FakePermissions> permissions = std::make_shared<fakes::FakePermissions>();
    std::shared_ptr<FakeWindowImages> images = std::make_shared<FakeWindowImages>();
    ScreenCaptureService service {permissions, images};
};

TEST_F(ScreenCaptureTest, ThePNGHoldsExactlyThePixelsOfTheRectangleAtTheDisplaysDensity)
{
    const Rect rect(100, 50, 200, 80);
    for (const double scale : {1.0, 2.0}) {
        permissions->screenRecording = true;
        images->setImage(FakeWindowImages::makeImage(rect, scale, pattern, 64)); // rows padded, as window servers align them
        const std::vector<std::uint8_t> png = service.capture(rect, std::nullopt);
        // Decoded with libpng itself, independently of how the bytes were written.
        png_image image {};
        image.version = PNG_IMAGE_VERSION;
        ASSERT_TRUE(png_image_begin_read_from_memory(&image, png.data(), png.size()));
        image.format = PNG_FORMAT_RGB;
        std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(image));
        ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr));
        ASSERT_EQ(image.width, static_cast<std::uint32_t>(200 * scale));
        ASSERT_EQ(image.height, static_cast<std::uint32_t>(80 * scale));
        for (std::uint32_t y = 0; y < image.height; ++y)
            for (std::uint32_t x = 0; x < image.width; ++x) {
                const std::uint8_t* got = &rgb[(y * image.width + x) * 3];
                ASSERT_EQ(std::uint32_t {got[0]} << 16 | got[1] << 8 | got[2], pattern(x, y) & 0xFFFFFF) << x << "," << y << " at " << scale;
            }
    }
}

TEST_F(ScreenCaptureTest, FailuresAreRefusedWithTheirSentenceAndNeverReadPastAnImage)
{
    const std::string cannotCapture = "No se pudo capturar el elemento seleccionado.";
    const WindowImage good = FakeWindowImages::makeImage(Rect(0, 0, 10, 10), 1, pattern);
    images->setImage(good);
    EXPECT_EQ(failureOf(), "Activa Grabación de pantalla para adjuntar contenido visual.");
    permissions->screenRecording = true;
    EXPECT_TRUE(images->requests().empty()) << "the window server was asked without permission";
    service.capture(Rect(0, 0, 10, 10), 0xFFFFFFFFll);
    EXPECT_EQ(images->requests().at(0).belowWindow, WindowNumber {0xFFFFFFFFu});

    WindowImage truncated = good, shortRows = good;
    truncated.pixels.resize(good.stride * 9); // claims more rows than it holds
    shortRows.stride = 39;
    for (const auto& image : {std::optional<WindowImage>(), std::optional(WindowImage {}), std::optional(truncated), std::optional(shortRows)}) {
        images->setImage(image);
        EXPECT_EQ(failureOf(), cannotCapture);
    }
}

} // namespace
} // namespace zorvane
