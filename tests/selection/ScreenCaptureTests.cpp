#include "app/selection/ScreenCaptureService.h"
#include "fakes/FakePermissions.h"
#include "fakes/FakeWindowImages.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstring>

namespace zorvane {
namespace {

using Code = ScreenCaptureService::CaptureError::Code;

struct Decoded {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> rgb; // 3 bytes a pixel, rows packed
};

// Decodes with libpng itself, independently of how the bytes were written.
std::optional<Decoded> decodePNG(const std::vector<std::uint8_t>& bytes)
{
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return std::nullopt;
    image.format = PNG_FORMAT_RGB;
    Decoded decoded;
    decoded.width = image.width;
    decoded.height = image.height;
    decoded.rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, decoded.rgb.data(), 0, nullptr)) return std::nullopt;
    return decoded;
}

std::uint32_t pattern(std::uint32_t x, std::uint32_t y)
{
    // Distinct red, green and blue in every pixel, so a swapped channel or a shifted row shows.
    return 0xFF000000u | ((x * 7 + y) & 0xFF) << 16 | ((y * 13) & 0xFF) << 8 | ((x * 3 + y * 5 + 1) & 0xFF);
}

void expectPixelsMatch(const Decoded& decoded, std::uint32_t width, std::uint32_t height)
{
    ASSERT_EQ(decoded.width, width);
    ASSERT_EQ(decoded.height, height);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint32_t want = pattern(x, y);
            const std::uint8_t* got = &decoded.rgb[(y * width + x) * 3];
            ASSERT_EQ(got[0], (want >> 16) & 0xFF) << "red at " << x << "," << y;
            ASSERT_EQ(got[1], (want >> 8) & 0xFF) << "green at " << x << "," << y;
            ASSERT_EQ(got[2], want & 0xFF) << "blue at " << x << "," << y;
        }
}

class ScreenCaptureTest : public ::testing::Test {
protected:
    void SetUp() override { permissions->screenRecording = true; }

    Code failureOf(const Rect& rect, std::optional<std::int64_t> window = std::nullopt)
    {
        try {
            service.capture(rect, window);
        } catch (const ScreenCaptureService::CaptureError& error) {
            return error.code();
        }
        ADD_FAILURE() << "capture did not fail";
        return Code::captureFailed;
    }

    std::shared_ptr<fakes::FakePermissions> permissions = std::make_shared<fakes::FakePermissions>();
    std::shared_ptr<fakes::FakeWindowImages> images = std::make_shared<fakes::FakeWindowImages>();
    ScreenCaptureService service {permissions, images};
};

TEST_F(ScreenCaptureTest, ThePNGHoldsExactlyThePixelsOfTheRectangle)
{
    const Rect rect(100, 50, 200, 80);
    images->setImage(fakes::FakeWindowImages::makeImage(rect, 1, pattern));
    const auto png = service.capture(rect, std::nullopt);
    const auto decoded = decodePNG(png);
    ASSERT_TRUE(decoded);
    expectPixelsMatch(*decoded, 200, 80);
}

TEST_F(ScreenCaptureTest, OnADoubleDensityDisplayTheImageHasTwiceThePixels)
{
    const Rect rect(100, 50, 200, 80);
    // Rows padded, as window servers align them.
    images->setImage(fakes::FakeWindowImages::makeImage(rect, 2, pattern, 64));
    const auto decoded = decodePNG(service.capture(rect, std::nullopt));
    ASSERT_TRUE(decoded);
    expectPixelsMatch(*decoded, 400, 160);
}

TEST_F(ScreenCaptureTest, TheExcludedWindowIsPassedOnAndOtherwiseAllWindowsAreAsked)
{
    const Rect rect(0, 0, 10, 10);
    images->setImage(fakes::FakeWindowImages::makeImage(rect, 1, pattern));
    service.capture(rect, std::nullopt);
    service.capture(rect, 4242);
    service.capture(rect, 0xFFFFFFFFll);
    const auto requests = images->requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].quartzRect, rect);
    EXPECT_EQ(requests[0].belowWindow, std::nullopt);
    EXPECT_EQ(requests[1].belowWindow, WindowNumber {4242});
    EXPECT_EQ(requests[2].belowWindow, WindowNumber {0xFFFFFFFFu});
}

TEST_F(ScreenCaptureTest, AWindowNumberThatNamesNoWindowIsRefusedRatherThanCapturingTheWrongWindows)
{
    images->setImage(fakes::FakeWindowImages::makeImage(Rect(0, 0, 10, 10), 1, pattern));
    EXPECT_EQ(failureOf(Rect(0, 0, 10, 10), -1), Code::captureFailed);
    EXPECT_EQ(failureOf(Rect(0, 0, 10, 10), 0x100000000ll), Code::captureFailed);
    EXPECT_TRUE(images->requests().empty());
}

TEST_F(ScreenCaptureTest, WithoutPermissionNoImageIsAskedFor)
{
    permissions->screenRecording = false;
    images->setImage(fakes::FakeWindowImages::makeImage(Rect(0, 0, 10, 10), 1, pattern));
    EXPECT_EQ(failureOf(Rect(0, 0, 10, 10)), Code::permissionMissing);
    EXPECT_TRUE(images->requests().empty());
}

TEST_F(ScreenCaptureTest, NoImageOrAnUnusableOneIsACaptureFailure)
{
    images->setImage(std::nullopt);
    EXPECT_EQ(failureOf(Rect(0, 0, 10, 10)), Code::captureFailed);

    images->setImage(WindowImage {});
    EXPECT_EQ(failureOf(Rect(0, 0, 10, 10)), Code::captureFailed);

    // Claims more rows than the buffer holds: refused, never read past its end.
    WindowImage truncated = fakes::FakeWindowImages::makeImage(Rect(0, 0, 10, 10), 1, pattern);
    truncated.pixels.resize(truncated.stride * 9);
    images->setImage(truncated);
    EXPECT_EQ(failureOf(Rect(0, 0, 10, 10)), Code::captureFailed);

    WindowImage shortRows = fakes::FakeWindowImages::makeImage(Rect(0, 0, 10, 10), 1, pattern);
    shortRows.stride = 39;
    images->setImage(shortRows);
    EXPECT_EQ(failureOf(Rect(0, 0, 10, 10)), Code::captureFailed);
}

TEST_F(ScreenCaptureTest, AnImageTheEncoderCannotWriteIsAnEncodingFailure)
{
    // Wider than PNG encoders accept.
    WindowImage wide;
    wide.width = 1'100'000;
    wide.height = 1;
    wide.stride = static_cast<std::size_t>(wide.width) * 4;
    wide.pixels.assign(wide.stride, 0);
    images->setImage(wide);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(failureOf(Rect(0, 0, 1'100'000, 1)), Code::encodingFailed);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), ""); // the encoder's complaints stay quiet
}

TEST(CaptureErrorTexts, AreTheSpanishSentencesTheUserSees)
{
    using Error = ScreenCaptureService::CaptureError;
    EXPECT_EQ(Error(Code::permissionMissing).localizedDescription(), "Activa Grabación de pantalla para adjuntar contenido visual.");
    EXPECT_EQ(Error(Code::captureFailed).localizedDescription(), "No se pudo capturar el elemento seleccionado.");
    EXPECT_EQ(Error(Code::encodingFailed).localizedDescription(), "No se pudo preparar la captura para Codex.");
    EXPECT_EQ(describe(Error(Code::captureFailed)), "No se pudo capturar el elemento seleccionado.");
}

} // namespace
} // namespace zorvane
