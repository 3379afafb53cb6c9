#include "app/platform/linux/wayland/DesktopSnapshot.h"
#include "app/platform/linux/wayland/GnomeCustomShortcut.h"
#include "app/platform/linux/wayland/WaylandSession.h"

#include <gtest/gtest.h>

namespace zorvane {
namespace {

// Two screens side by side: the left one at 2 pixels per point, red, the right one at 1, blue.
DesktopSnapshot twoScreens()
{
    QImage left(200, 100, QImage::Format_RGB32), right(60, 50, QImage::Format_RGB32);
    left.fill(QColor(255, 0, 0));
    right.fill(QColor(0, 0, 255));
    return {{{Rect(0, 0, 100, 50), left}, {Rect(100, 0, 60, 50), right}}};
}

std::uint32_t firstPixel(const WindowImage& image)
{
    return image.pixels[0] | image.pixels[1] << 8 | image.pixels[2] << 16; // blue, green, red
}

TEST(DesktopSnapshot, CropsARectangleAtThePixelDensityOfTheScreenHoldingMostOfIt)
{
    struct Row {
        Rect rect;
        std::uint32_t width, height;
        double scale;
        std::uint32_t colour;
    };
    const Row rows[] = {
        {Rect(10, 10, 20, 10), 40, 20, 2, 0xff0000},  // on the 2× screen: twice the points
        {Rect(110, 5, 30, 20), 30, 20, 1, 0x0000ff},  // on the 1× screen
        {Rect(70, 0, 40, 10), 60, 20, 2, 0xff0000},   // across both: the part on the screen with more of it
        {Rect(150, 40, 30, 30), 10, 10, 1, 0x0000ff}, // hanging off the desktop: what is on it
    };
    const DesktopSnapshot snapshot = twoScreens();
    for (const Row& row : rows) {
        const auto image = snapshot.crop(row.rect);
        ASSERT_TRUE(image) << row.rect.minX();
        EXPECT_EQ(std::pair(image->width, image->height), std::pair(row.width, row.height)) << row.rect.minX();
        EXPECT_EQ(image->scale, row.scale);
        EXPECT_EQ(image->stride, image->width * 4u);
        EXPECT_EQ(firstPixel(*image), row.colour);
    }
    EXPECT_FALSE(snapshot.crop(Rect(500, 500, 10, 10))) << "nothing of the desktop there";
}

TEST(DesktopSnapshot, APictureOfTheWholeLayoutGivesEachScreenItsPart)
{
    QImage whole(320, 100, QImage::Format_RGB32); // a desktop of 160 × 50 points at 2×
    const auto snapshot = DesktopSnapshot::ofLayout(whole, {Rect(0, 0, 100, 50), Rect(100, 0, 60, 40)});
    EXPECT_EQ(snapshot.frameOf(Rect(100, 0, 60, 40)).source, QRectF(200, 0, 120, 80));
}

TEST(WaylandSession, TellsTheDesktopFromItsName)
{
    using wayland::Desktop;
    const std::pair<const char*, Desktop> rows[] = {{"GNOME", Desktop::gnome}, {"ubuntu:GNOME", Desktop::gnome}, {"KDE", Desktop::kde},
        {"sway", Desktop::wlroots}, {"Hyprland", Desktop::wlroots}, {"XFCE", Desktop::other}, {"", Desktop::other}};
    for (const auto& [name, desktop] : rows) EXPECT_EQ(wayland::desktopNamed(name), desktop) << name;
}

TEST(GnomeCustomShortcut, TakesTheFirstKeysGnomeDoesNotUseAndNamesThemForTheUser)
{
    const std::vector<std::string> candidates {"<Control><Alt>space", "<Control><Alt>z"};
    EXPECT_EQ(GnomeCustomShortcut::firstFree(candidates, {"<Super>space"}), "<Control><Alt>space");
    EXPECT_EQ(GnomeCustomShortcut::firstFree(candidates, {"<Alt><Primary>Space"}), "<Control><Alt>z") << "same keys, other spelling";
    EXPECT_EQ(GnomeCustomShortcut::firstFree(candidates, {"<Ctrl><Alt>space", "<Control><Alt>Z"}), std::nullopt);
    EXPECT_EQ(GnomeCustomShortcut::readable("<Control><Alt>space"), "Ctrl+Alt+Espacio");
    EXPECT_EQ(GnomeCustomShortcut::readable("<Super><Alt>z"), "Super+Alt+Z");
}

} // namespace
} // namespace zorvane
