#pragma once

#include "app/platform/ApplicationWindows.h"
#include "app/platform/ChatPanelController.h"

#include <optional>
#include <vector>

namespace zorvane::fakes {

// A chat panel that records where it was shown; its window is number 77.
class FakeChatPanel : public ChatPanelController {
public:
    bool isVisible = false;
    std::vector<Rect> shownNear;
    int expandCount = 0;
    bool mapsWhenShown = true; // false: a window manager that never maps it

    void prepare(AppModel&) override {}
    void show(AppModel&, const Rect& nearQuartzRect) override { shownNear.push_back(nearQuartzRect), isVisible = true; }
    void expandForResponse() override { ++expandCount; }
    void hide() override { isVisible = false; }
    std::optional<std::uint32_t> windowNumber() override { return 77; }
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
