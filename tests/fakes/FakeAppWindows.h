#pragma once

#include "app/platform/ApplicationWindows.h"
#include "app/platform/ChatPanelController.h"

#include <optional>
#include <vector>

namespace zorvane::fakes {

class FakeChatPanel : public ChatPanelController {
public:
    int prepareCount = 0;
    int expandCount = 0;
    int hideCount = 0;
    bool isVisible = false;
    std::vector<Rect> shownNear;
    std::optional<std::uint32_t> number = 77;
    // False: the window never reaches the screen (a window manager that does not map it).
    bool mapsWhenShown = true;

    void prepare(AppModel&) override { ++prepareCount; }
    void show(AppModel&, const Rect& nearQuartzRect) override
    {
        shownNear.push_back(nearQuartzRect);
        isVisible = true;
    }
    void expandForResponse() override { ++expandCount; }
    void hide() override
    {
        ++hideCount;
        isVisible = false;
    }
    std::optional<std::uint32_t> windowNumber() override { return number; }
    bool isOnScreen() override { return isVisible && mapsWhenShown; }
};

class FakeOnboardingWindow : public OnboardingWindowController {
public:
    int showCount = 0;
    void show(AppModel&) override { ++showCount; }
};

class FakeApplicationWindows : public ApplicationWindows {
public:
    std::vector<Window> list;
    int activations = 0;
    std::vector<std::uint64_t> raised;

    void activateIgnoringOtherApps() override { ++activations; }
    std::vector<Window> windows() override { return list; }
    void orderFrontRegardlessAndMakeKey(std::uint64_t handle) override { raised.push_back(handle); }
};

} // namespace zorvane::fakes
