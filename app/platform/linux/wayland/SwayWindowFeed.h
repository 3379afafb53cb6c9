#pragma once

#include "app/platform/linux/wayland/CompositorWindows.h"

#include <atomic>
#include <filesystem>
#include <memory>
#include <thread>

namespace zorvane {

// sway's windows from its IPC socket ($SWAYSOCK): the tree read at start, again after every window
// or workspace event (sway 1.7 reports no output changes), and whenever a reader found the list
// old. All on a thread of its own, each answer awaited at most a second, so a compositor that
// stalls stalls nobody else; once it fails to answer the list is forgotten and the core falls back
// to the area around the pointer.
class SwayWindowFeed {
public:
    // Starts at once; none when the socket cannot be reached.
    static std::shared_ptr<SwayWindowFeed> start(const std::filesystem::path& socket, std::shared_ptr<CompositorWindows> windows);
    ~SwayWindowFeed();
    SwayWindowFeed(const SwayWindowFeed&) = delete;
    SwayWindowFeed& operator=(const SwayWindowFeed&) = delete;

    // Any thread: read the tree again soon.
    void refresh();

    // The socket named by $SWAYSOCK; empty when unset.
    static std::filesystem::path socketFromEnvironment();

private:
    SwayWindowFeed(int events, int requests, int wake, std::shared_ptr<CompositorWindows> windows);
    void run();

    int events_, requests_, wake_;
    std::shared_ptr<CompositorWindows> windows_;
    std::atomic<bool> stopping_ {false};
    std::thread thread_;
};

} // namespace zorvane
