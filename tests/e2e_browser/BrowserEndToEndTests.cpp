// The whole web path with a real browser: Debian's Chromium, headless, with the shipped extension,
// the real ZorvaneBrowserHost found through the manifest the installer wrote, the real bridge service
// and a second, scripted host. The application's side is driven here; the user's through DevTools.
#include "app/bridge/BrowserBridgeInstaller.h"
#include "app/bridge/BrowserBridgeService.h"
#include "app/model/BrowserSelection.h"
#include "fakes/FakeBridgePeers.h"
#include "fakes/FakeSystem.h"
#include "fakes/VirtualTime.h"
#include "tests/support/DevToolsBrowser.h"
#include "tests/support/HttpServer.h"

#include <gtest/gtest.h>
#include <png.h>

namespace zorvane {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* chromium = "/usr/lib/chromium/chromium";

TEST(BrowserEndToEnd, PickingCancellingAndQuittingWithARealBrowser)
{
    if (::access(chromium, X_OK) != 0) GTEST_SKIP() << "no " << chromium << " (Debian package chromium, in scripts/packages/bridge.txt)";
    fakes::TemporaryDirectory temporary;
    const fs::path home = temporary / "home";
    // The manifest goes where the installer puts it for Chromium, which is the profile's own folder.
    fakes::FakeBundle bundle(ZORVANE_TEST_BUNDLE_DIR);
    BrowserBridgeInstaller(bundle, home).install();

    fakes::FakeClock clock;
    fakes::ManualMainQueue queue(clock);
    BrowserSelection::Hosts hosts;
    std::vector<std::string> events;
    std::optional<UUID> startedID;
    std::optional<BrowserBridgeService::Selection> selection;
    const fs::path runtime = temporary.path();
    auto service = BrowserBridgeService::create(queue, runtime / "zorvane/browser-bridge");
    service->onHostConnected = [&](const auto& host) { hosts[host.id] = host; };
    service->onHostDisconnected = [&](auto id) { hosts.erase(id); };
    service->onSelectionStarted = [&](auto, const auto& s) { startedID = s.id, events.push_back("started " + s.title); };
    service->onSelection = [&](auto, const auto& s) { selection = s; events.push_back("selection"); };
    service->onPickerShown = [&](auto) { events.push_back("shown"); };
    service->onCancel = [&](auto) { events.push_back("cancel"); };
    service->start();

    testing::HttpServer server;
    server.put("/index.html", "<!doctype html><html lang=\"es\"><head><meta charset=\"utf-8\"><title>Página de prueba</title></head>"
                              "<body style=\"margin: 0\"><div id=\"target\" style=\"position: absolute; left: 100px; top: 80px; "
                              "width: 240px; height: 120px; background: #22aa77; color: #22aa77\">Tarjeta   de\n  prueba</div></body></html>");
    testing::Processes processes(temporary / "logs");
    const std::string extension = (bundle.resourcesPath() / "BrowserExtension").string();
    testing::DevToolsBrowser browser(processes,
        {chromium, "--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
            "--disable-background-networking", "--disable-component-update", "--disable-sync",
            "--user-data-dir=" + (home / ".config/chromium").string(), "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1",
            "--window-size=800,600", "--force-device-scale-factor=1", "--load-extension=" + extension,
            "--disable-extensions-except=" + extension, "about:blank"},
        {{"HOME", home.string()}, {"XDG_CONFIG_HOME", (temporary / "xdg").string()}, {"XDG_CACHE_HOME", (temporary / "cache").string()},
            {"XDG_RUNTIME_DIR", runtime.string()}});
    // The extension's worker opens its native port at start; the host says hello. (runUntil polls
    // its condition at least every 50 ms, so it also waits for the browser's state.)
    ASSERT_TRUE(queue.runUntil([&] { return !hosts.empty(); }, 20s)) << "the extension never reached the service through the host";
    // Another browser's host, scripted, connected at the same time: this process is its browser.
    fakes::BridgeSocket other = fakes::BridgeSocket::connectTo(service->socketPath());
    other.send(BridgeProtocol::helloLine(::getpid()));
    ASSERT_TRUE(queue.runUntil([&] { return hosts.size() == 2; }));
    fakes::FakeWorkspace workspace;
    workspace.frontmostPID = browser.pid();
    const auto chromiumHost = BrowserSelection::hostInFront(hosts, workspace);
    ASSERT_TRUE(chromiumHost && hosts[*chromiumHost].browserProcessID == browser.pid()) << "the host did not name its browser";

    // The extension hears of a tab's loading well after the page is done (the browser gathers tab
    // updates). So a page is opened in a new active tab, and is ready once the extension's worker
    // has heard it is complete.
    const auto targets = browser.call("Target.getTargets")["targetInfos"];
    const auto worker = std::find_if(targets.begin(), targets.end(), [](const auto& target) { return target["type"] == "service_worker"; });
    ASSERT_NE(worker, targets.end());
    const std::string extensionWorker = browser.call("Target.attachToTarget", {{"targetId", (*worker)["targetId"]}, {"flatten", true}})["sessionId"];
    browser.evaluate(extensionWorker, "globalThis.complete = new Set(); "
                                      "chrome.tabs.onUpdated.addListener((id, change, tab) => change.status === 'complete' && complete.add(tab.url))");
    const auto open = [&](const std::string& url) {
        const std::string target = browser.call("Target.createTarget", {{"url", url}})["targetId"];
        browser.call("Target.activateTarget", {{"targetId", target}});
        EXPECT_TRUE(queue.runUntil([&] { return browser.evaluate(extensionWorker, "complete.has('" + url + "')") == true; }, 10s)) << url;
        return browser.call("Target.attachToTarget", {{"targetId", target}, {"flatten", true}})["sessionId"].get<std::string>();
    };
    const std::string tab = open(server.url("/"));
    const auto pickerShown = [&] { return browser.evaluate(tab, "!!document.querySelector('[data-zorvane-picker]')") == true; };
    const auto activateAndWaitForThePicker = [&] {
        ASSERT_TRUE(service->requestActivation(*chromiumHost));
        ASSERT_TRUE(queue.runUntil(pickerShown, 10s)) << "no picker appeared in the page";
    };

    // Pick: the application asks, the user clicks the element.
    ASSERT_NO_FATAL_FAILURE(activateAndWaitForThePicker());
    for (const char* type : {"mouseMoved", "mousePressed", "mouseReleased"})
        browser.call("Input.dispatchMouseEvent", {{"type", type}, {"x", 210}, {"y", 140}, {"button", "left"}, {"buttons", 1}, {"clickCount", 1}}, tab);
    ASSERT_TRUE(queue.runUntil([&] { return selection.has_value(); }, 15s)) << "no selection arrived";
    EXPECT_EQ(selection->id, startedID);
    // The crop is the element itself, edge to edge, with no trace of the picker's outline.
    png_image image {};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_memory(&image, selection->imageData.data(), selection->imageData.size())) << "not a PNG";
    image.format = PNG_FORMAT_RGB;
    std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr));
    ASSERT_EQ(std::pair(image.width, image.height), std::pair(240u, 120u));
    for (const auto& [x, y] : {std::pair {1u, 1u}, {238u, 1u}, {1u, 118u}, {238u, 118u}, {120u, 60u}}) {
        const std::uint8_t* pixel = &rgb[(y * image.width + x) * 3];
        EXPECT_TRUE(std::abs(pixel[0] - 0x22) <= 6 && std::abs(pixel[1] - 0xaa) <= 6 && std::abs(pixel[2] - 0x77) <= 6) << x << "," << y;
    }
    EXPECT_TRUE(queue.runUntil([&] { return !pickerShown(); }, 5s));

    // Cancel in the page with Escape, then from the application: the picker goes, and only the
    // page's cancel reaches the application.
    ASSERT_NO_FATAL_FAILURE(activateAndWaitForThePicker());
    for (const char* type : {"keyDown", "keyUp"})
        browser.call("Input.dispatchKeyEvent", {{"type", type}, {"key", "Escape"}, {"code", "Escape"}, {"windowsVirtualKeyCode", 27}}, tab);
    ASSERT_TRUE(queue.runUntil([&] { return events.back() == "cancel"; }, 10s)) << "Escape did not cancel";
    EXPECT_TRUE(queue.runUntil([&] { return !pickerShown(); }, 5s));
    ASSERT_NO_FATAL_FAILURE(activateAndWaitForThePicker());
    ASSERT_TRUE(service->requestCancellation(*chromiumHost));
    EXPECT_TRUE(queue.runUntil([&] { return !pickerShown(); }, 10s));

    // A page that takes no scripts: the extension says so at once instead of leaving the
    // application waiting for a pick that cannot happen.
    open("chrome://version/");
    ASSERT_TRUE(service->requestActivation(*chromiumHost));
    EXPECT_TRUE(queue.runUntil([&] { return events.size() == 7; }, 10s)) << "activation on a browser page was not released";

    // The browser quits: the host must notice and leave, closing its link.
    try {
        browser.call("Browser.close");
    } catch (const std::runtime_error&) { // it may go before it answers
    }
    EXPECT_TRUE(testing::waitUntil(15, [&] { return processes.hasExited(browser.pid()); })) << "the browser did not quit";
    EXPECT_TRUE(queue.runUntil([&] { return !hosts.contains(*chromiumHost); }, 10s)) << "the host's link stayed open after the browser quit";
    const fs::path host = fs::canonical(bundle.executablesPath() / "ZorvaneBrowserHost");
    EXPECT_TRUE(queue.runUntil([&] {
        std::error_code unreadable;
        for (const auto& process : fs::directory_iterator("/proc"))
            if (fs::read_symlink(process.path() / "exe", unreadable) == host) return false;
        return true;
    }, 5s)) << "a host outlived the browser";
    EXPECT_EQ(events, (std::vector<std::string> {"shown", "started Tarjeta de prueba", "selection", "shown", "cancel", "shown", "cancel"}));
}

} // namespace
} // namespace zorvane
