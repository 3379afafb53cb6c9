// The whole web path with a real browser: Debian's Chromium, headless, with the shipped extension,
// the real ZorvaneBrowserHost found through the manifest the installer wrote, and the real bridge
// service. The application's side is driven here; the user's click and key come through DevTools.

#include "app/bridge/BrowserBridgeInstaller.h"
#include "app/bridge/BrowserBridgeService.h"
#include "e2e_browser/DevToolsBrowser.h"
#include "fakes/FakeBridgePeers.h"
#include "fakes/FakeBundle.h"
#include "fakes/TemporaryDirectory.h"
#include "fakes/VirtualTime.h"

#include <gtest/gtest.h>
#include <png.h>

#include <atomic>
#include <fstream>
#include <optional>
#include <sstream>

namespace zorvane {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* chromium = "/usr/lib/chromium/chromium";

const std::string page = R"(<!doctype html>
<html lang="es"><head><meta charset="utf-8"><title>Página de prueba</title>
<style>
  html, body { margin: 0; background: #ffffff; }
  #target { position: absolute; left: 100px; top: 80px; width: 240px; height: 120px;
            background: #22aa77; color: #22aa77; font: 20px sans-serif; }
</style></head>
<body><div id="target">Tarjeta   de
  prueba</div></body></html>)";

// Serves the test page on 127.0.0.1 for every request, until destroyed.
class PageServer {
public:
    PageServer() : thread_([this] { serve(); }) {}
    ~PageServer()
    {
        stopping_ = true;
        // Wake the accept poll with a connection of our own.
        fakes::LoopbackSocket::connectTo(listener_.port());
        thread_.join();
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(listener_.port()) + "/"; }

private:
    void serve()
    {
        while (!stopping_) {
            fakes::LoopbackSocket client = listener_.accept(1s);
            if (!client.isOpen() || stopping_) continue;
            // The whole request is read first, so that closing does not reset the connection.
            for (auto line = client.receiveLine(2s); line && *line != "\r\n";) line = client.receiveLine(2s);
            client.send("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\n"
                        "Connection: close\r\nContent-Length: " + std::to_string(page.size()) + "\r\n\r\n" + page);
        }
    }

    fakes::LoopbackListener listener_;
    std::atomic<bool> stopping_ {false};
    std::thread thread_;
};

// The crop's pixels as RGBA, or none when it is not a PNG.
std::optional<png_image> decodePNG(const std::vector<std::uint8_t>& data, std::vector<std::uint8_t>& rgba)
{
    png_image image {};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, data.data(), data.size())) return std::nullopt;
    image.format = PNG_FORMAT_RGBA;
    rgba.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr)) return std::nullopt;
    return image;
}

// Processes running the host binary, found by their executable.
int runningHosts(const fs::path& host)
{
    int count = 0;
    std::error_code error;
    const fs::path wanted = fs::weakly_canonical(host, error);
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        std::error_code ignored;
        const fs::path exe = fs::read_symlink(entry.path() / "exe", ignored);
        if (!ignored && exe == wanted) ++count;
    }
    return count;
}

std::string tail(const fs::path& file)
{
    std::stringstream text;
    text << std::ifstream(file).rdbuf();
    const std::string all = text.str();
    return all.substr(all.size() > 4000 ? all.size() - 4000 : 0);
}

TEST(BrowserEndToEnd, PickingCancellingAndQuittingWithARealBrowser)
{
    if (::access(chromium, X_OK) != 0)
        GTEST_SKIP() << "Chromium is not installed at " << chromium << " (Debian package chromium, in scripts/packages/bridge.txt)";

    fakes::TemporaryDirectory temporary;
    const fs::path home = temporary / "home";
    const fs::path profile = home / ".config/chromium";
    const fs::path log = temporary / "chromium.log";

    // The manifest goes where the installer puts it for Chromium, which is the profile's own folder.
    fakes::FakeBundle bundle(ZORVANE_TEST_BUNDLE_DIR);
    BrowserBridgeInstaller installer(bundle, home);
    installer.install();
    ASSERT_TRUE(fs::exists(profile / "NativeMessagingHosts/com.quenvar.zorvane.json"));

    fakes::FakeClock clock;
    fakes::ManualMainQueue queue(clock);
    std::vector<bool> connections;
    std::vector<std::string> events;
    std::optional<BrowserBridgeService::SelectionStarted> started;
    std::optional<BrowserBridgeService::Selection> selection;
    const auto startApplication = [&] {
        auto service = BrowserBridgeService::create(queue);
        service->onConnectionChange = [&](bool connected) { connections.push_back(connected); };
        service->onSelectionStarted = [&](const auto& s) { started = s; events.push_back("started"); };
        service->onSelection = [&](const auto& s) { selection = s; events.push_back("selection"); };
        service->onCancel = [&] { events.push_back("cancel"); };
        service->start();
        return service;
    };
    auto service = startApplication();
    ASSERT_EQ(service->listeningPort(), BridgeProtocol::port) << "127.0.0.1:38473 is taken by another program";

    PageServer server;
    const fs::path extension = bundle.resourcesPath() / "BrowserExtension";
    test_support::DevToolsBrowser browser(
        chromium,
        {"--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--user-data-dir=" + profile.string(), "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1",
         "--window-size=800,600", "--force-device-scale-factor=1", "--load-extension=" + extension.string(),
         "--disable-extensions-except=" + extension.string(), "about:blank"},
        {{"HOME", home.string()}, {"XDG_CONFIG_HOME", (temporary / "xdg").string()},
         {"XDG_CACHE_HOME", (temporary / "cache").string()}},
        log);
    // runUntil polls its condition at least every 50 ms, so it also waits for the browser's state.
    const auto connected = [&] { return !connections.empty() && connections.back(); };

    // The extension's worker opens its native port at start; the host authenticates.
    ASSERT_TRUE(queue.runUntil(connected, 20s)) << "the extension never reached the service through the host\n" << tail(log);

    const std::string targetID = browser.call("Target.createTarget", {{"url", server.url()}})["targetId"];
    const std::string tab = browser.call("Target.attachToTarget", {{"targetId", targetID}, {"flatten", true}})["sessionId"];
    browser.call("Target.activateTarget", {{"targetId", targetID}});
    ASSERT_TRUE(queue.runUntil(
        [&] { return browser.evaluate(tab, "document.readyState === 'complete' && !!document.getElementById('target')") == true; },
        10s));
    const auto pickerShown = [&] { return browser.evaluate(tab, "!!document.querySelector('[data-zorvane-picker]')") == true; };
    const auto pickerGone = [&] { return !pickerShown(); };
    const auto activateAndWaitForThePicker = [&] {
        ASSERT_TRUE(service->requestActivation());
        ASSERT_TRUE(queue.runUntil(pickerShown, 10s)) << "no picker appeared in the page\n" << tail(log);
    };

    // Pick: the application asks, the user clicks the element.
    ASSERT_NO_FATAL_FAILURE(activateAndWaitForThePicker());
    for (const char* type : {"mouseMoved", "mousePressed", "mouseReleased"}) {
        browser.call("Input.dispatchMouseEvent",
                     {{"type", type}, {"x", 210}, {"y", 140}, {"button", "left"}, {"buttons", 1}, {"clickCount", 1}}, tab);
    }
    ASSERT_TRUE(queue.runUntil([&] { return selection.has_value(); }, 15s)) << "no selection arrived\n" << tail(log);
    EXPECT_EQ(events, (std::vector<std::string> {"started", "selection"}));
    EXPECT_EQ(selection->id, started->id);
    EXPECT_EQ(started->title, "Tarjeta de prueba");
    std::vector<std::uint8_t> rgba;
    const auto image = decodePNG(selection->imageData, rgba);
    ASSERT_TRUE(image.has_value()) << "the crop is not a PNG";
    ASSERT_EQ(image->width, 240u);
    ASSERT_EQ(image->height, 120u);
    // The element itself, edge to edge, with no trace of the picker's outline.
    for (const auto& [x, y] : {std::pair {1u, 1u}, {238u, 1u}, {1u, 118u}, {238u, 118u}, {120u, 60u}}) {
        const std::uint8_t* pixel = &rgba[(y * image->width + x) * 4];
        EXPECT_TRUE(std::abs(pixel[0] - 0x22) <= 6 && std::abs(pixel[1] - 0xaa) <= 6 && std::abs(pixel[2] - 0x77) <= 6)
            << x << "," << y;
    }
    EXPECT_TRUE(queue.runUntil(pickerGone, 5s));

    // Cancel in the page: Escape.
    ASSERT_NO_FATAL_FAILURE(activateAndWaitForThePicker());
    for (const char* type : {"keyDown", "keyUp"}) {
        browser.call("Input.dispatchKeyEvent",
                     {{"type", type}, {"key", "Escape"}, {"code", "Escape"}, {"windowsVirtualKeyCode", 27}}, tab);
    }
    ASSERT_TRUE(queue.runUntil([&] { return events.size() == 3; }, 10s)) << "Escape did not cancel\n" << tail(log);
    EXPECT_TRUE(queue.runUntil(pickerGone, 5s));

    // Cancel from the application: the picker goes away and nothing is sent back.
    ASSERT_NO_FATAL_FAILURE(activateAndWaitForThePicker());
    ASSERT_TRUE(service->requestCancellation());
    EXPECT_TRUE(queue.runUntil(pickerGone, 10s));

    // A page that takes no scripts: the extension says so at once instead of leaving the
    // application waiting for a pick that cannot happen.
    const std::string settingsID = browser.call("Target.createTarget", {{"url", "chrome://version/"}})["targetId"];
    browser.call("Target.activateTarget", {{"targetId", settingsID}});
    ASSERT_TRUE(service->requestActivation());
    EXPECT_TRUE(queue.runUntil([&] { return events.size() == 4; }, 10s)) << "activation on a browser page was not released";

    // The application quits and starts again a little later: the extension finds it by itself.
    service.reset();
    connections.clear();
    std::this_thread::sleep_for(3s); // long enough for one host to give up in between
    service = startApplication();
    ASSERT_EQ(service->listeningPort(), BridgeProtocol::port);
    ASSERT_TRUE(queue.runUntil(connected, 20s)) << "the extension did not reconnect\n" << tail(log);

    // Quit: the host must notice and leave, closing its link.
    browser.post("Browser.close");
    EXPECT_TRUE(browser.waitForExit(15s)) << "the browser did not quit";
    EXPECT_TRUE(queue.runUntil([&] { return !connected(); }, 10s)) << "the host's link stayed open after the browser quit";
    const fs::path host = bundle.executablesPath() / "ZorvaneBrowserHost";
    EXPECT_TRUE(queue.runUntil([&] { return runningHosts(host) == 0; }, 5s)) << "a host outlived the browser";
    // The application's own cancel was not echoed back.
    EXPECT_EQ(events, (std::vector<std::string> {"started", "selection", "cancel", "cancel"}));
    browser.kill();
}

} // namespace
} // namespace zorvane
