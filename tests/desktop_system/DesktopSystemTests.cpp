// The desktop's own files (autostart and menu entries) under a temporary home, and the self-updater
// against releases served from a loopback HTTP server.
#include "app/platform/linux/LinuxBundle.h"
#include "app/platform/linux/desktop/LauncherEntry.h"
#include "app/platform/linux/desktop/LinuxUpdater.h"
#include "app/platform/linux/desktop/XdgLoginItem.h"
#include "app/system/LaunchAtLoginService.h"
#include "fakes/MemoryPreferencesStore.h"
#include "fakes/VirtualTime.h"
#include "tests/support/HttpServer.h"

#include <gtest/gtest.h>
#include <atomic>
#include <sodium.h>
#include <unistd.h>

using namespace zorvane;
using namespace zorvane::linux_platform;
using UpdateSteps::InstallStep;
namespace fs = std::filesystem;
using fakes::readFile;
using fakes::writeFile;

namespace {

std::string infoPlist(const std::string& version, const std::string& feed = "", const std::string& key = "",
    const std::string& identifier = "com.quenvar.zorvane")
{
    return "<?xml version=\"1.0\"?>\n<plist version=\"1.0\"><dict><key>CFBundleExecutable</key><string>Zorvane</string>"
           "<key>CFBundleIdentifier</key><string>" + identifier + "</string><key>CFBundleShortVersionString</key><string>"
        + version + "</string><key>SUFeedURL</key><string>" + feed + "</string><key>SUPublicEDKey</key><string>" + key
        + "</string></dict></plist>\n";
}

// The files of a release of `version`, by path in the archive.
std::map<std::string, std::string> bundleFiles(const std::string& version)
{
    return {{"Zorvane.app/Contents/Info.plist", infoPlist(version)}, {"Zorvane.app/Contents/MacOS/Zorvane", "#!/bin/sh\necho " + version},
        {"Zorvane.app/Contents/Frameworks/libzorvane-desktop.so", "program"}, {"Zorvane.app/Contents/Resources/notes.txt", "new"}};
}

// A release archive made by tar (not by the library the updater reads it with). Content that starts
// with "-> " makes a symbolic link; a path may leave its folder, as a hostile archive's would.
std::string tarGz(const std::map<std::string, std::string>& files)
{
    fakes::TemporaryDirectory staging;
    const fs::path root = staging / "deep/down";
    std::vector<std::string> argv {"tar", "-czf", "-", "--absolute-names", "-C", root.string()};
    for (const auto& [path, content] : files) {
        fs::create_directories((root / path).parent_path());
        if (content.starts_with("-> ")) fs::create_symlink(content.substr(3), root / path);
        else std::ofstream(root / path) << content;
        if (path.ends_with("MacOS/Zorvane")) fs::permissions(root / path, fs::perms::owner_all);
        argv.push_back(path);
    }
    std::string archive;
    EXPECT_EQ(zorvane::testing::Processes(staging / "logs").run(argv, 30, &archive), 0);
    return archive;
}

std::string base64(const unsigned char* data, std::size_t size)
{
    std::string text(sodium_base64_encoded_len(size, sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), data, size, sodium_base64_VARIANT_ORIGINAL);
    return text.substr(0, text.size() - 1);
}

// Says yes to every update offered and notes, a line each, what the user would have seen.
struct RecordingDriver : UpdateUserDriver {
    void showUpToDate(const std::string& version) override { seen += "up to date " + version + "\n"; }
    void showUpdateFound(const std::string& version, const std::string& installed, std::function<void(bool)> reply) override
    {
        seen += "offered " + version + " over " + installed + "\n", reply(true);
    }
    void showReadyToRestart(const std::string& version, std::function<void(bool)> reply) override
    {
        seen += "ready to restart into " + version + "\n", restart = std::move(reply);
    }
    void showFailure(const std::string& message) override { seen += message + "\n"; }
    std::string seen;
    std::function<void(bool)> restart;
};

} // namespace

// Start-at-login switched on and off as the settings toggle does it, with a program path that needs
// quoting, entries the user switched off in the desktop and a moved bundle; the menu entry and its
// icons; then which of several copies of Zorvane rewrites these entries when it starts.
TEST(DesktopEntries, AutostartAndMenuEntriesStartTheCopyThatOwnsThem)
{
    fakes::TemporaryDirectory home;
    const fs::path program = home / "Mis Apps/Zorvane \"beta\" $1 100%.app/Contents/MacOS/Zorvane", folder = home / "autostart";
    const fs::path autostartFile = folder / "com.quenvar.Zorvane.desktop", launcherFile = home / "share/applications/com.quenvar.Zorvane.desktop";
    // Quoted as desktops read it: a backslash before " ` $ inside the quotes, doubled by the file's
    // own escaping, and % written twice.
    const std::string exec = "Exec=\"" + (home / "Mis Apps/Zorvane \\\\\"beta\\\\\" \\\\$1 100%%.app/Contents/MacOS/Zorvane").string() + "\"";
    auto item = std::make_shared<XdgLoginItem>(program, folder);
    LaunchAtLoginService service(item);
    EXPECT_FALSE(service.isEnabled());
    service.setEnabled(true);
    EXPECT_TRUE(service.isEnabled());
    const std::string entry = readFile(autostartFile);
    EXPECT_EQ(entry.rfind("[Desktop Entry]\nType=Application\n", 0), 0u);
    EXPECT_NE(entry.find("\n" + exec + "\n"), std::string::npos) << entry;
    // Another copy of Zorvane does not see this entry as its own.
    EXPECT_EQ(XdgLoginItem(home / "other/Zorvane", folder).status(), LoginItem::Status::notRegistered);

    // Switched off in the desktop (its startup settings, or the entry marked Hidden): shown off and
    // left off by a start, also by a moved copy that takes the entry over; our switch turns it on.
    for (const std::string off : {"X-GNOME-Autostart-enabled=false", "Hidden=true"}) {
        SCOPED_TRACE(off);
        const std::string offEntry = entry.substr(0, entry.find("X-GNOME-Autostart-enabled=true")) + off + "\n";
        writeFile(autostartFile, offEntry);
        EXPECT_FALSE(service.isEnabled());
        EXPECT_FALSE(item->followThisProgram());
        EXPECT_EQ(readFile(autostartFile), offEntry);
        XdgLoginItem moved(home / "moved/Zorvane", folder);
        EXPECT_TRUE(moved.followThisProgram());
        EXPECT_EQ(moved.status(), LoginItem::Status::notRegistered);
        EXPECT_TRUE(readFile(autostartFile).ends_with("\n" + off + "\n")) << readFile(autostartFile);
        service.setEnabled(true);
        EXPECT_TRUE(service.isEnabled());
    }

    // The bundle moved: the entry is pointed at the new place at start, once.
    XdgLoginItem moved(home / "moved/Zorvane.app/Contents/MacOS/Zorvane", folder);
    EXPECT_TRUE(moved.followThisProgram());
    EXPECT_EQ(moved.status(), LoginItem::Status::enabled);
    EXPECT_FALSE(moved.followThisProgram());
    moved.unregisterItem();
    EXPECT_TRUE(fs::is_empty(folder)) << "an entry or a temporary file was left behind";

    writeFile(home / "icons/icon48.png", "png48");
    for (int start = 0; start < 2; ++start) LauncherEntry(program, home / "icons", home / "share", {}).install(); // the same every time
    EXPECT_EQ(readFile(home / "share/icons/hicolor/48x48/apps/com.quenvar.Zorvane.png"), "png48");
    const std::string menuEntry = readFile(launcherFile);
    for (const std::string& line : {std::string("\nName=Zorvane\n"), std::string("\nIcon=com.quenvar.Zorvane\n"), "\n" + exec + "\n", "\n" + exec + " --settings\n"})
        EXPECT_NE(menuEntry.find(line), std::string::npos) << line;
    EXPECT_EQ(std::distance(fs::directory_iterator(home / "share/applications"), {}), 1);
    // Hidden from the menu with a menu editor: it stays hidden.
    writeFile(launcherFile, "[Desktop Entry]\nNoDisplay=true\n" + menuEntry.substr(menuEntry.find('\n') + 1));
    LauncherEntry(program, home / "icons", home / "share", {}).install();
    EXPECT_EQ(DesktopEntryFile::readMainGroup(launcherFile)->at("NoDisplay"), "true");
    fs::remove(launcherFile);

    // The copy autostart was turned on from owns the entries, not an old download run once nor the
    // installed package; once that copy is gone the installed one takes them, and its package's own
    // menu entry shows instead of ours.
    const fs::path mine = home / "apps/Zorvane.app/Contents/MacOS/Zorvane", old = home / "Descargas/Zorvane.app/Contents/MacOS/Zorvane",
                   installed = home / "usr/bin/zorvane";
    const std::pair<std::string, fs::path> copies[] = {{"mine", mine}, {"old", old}, {"installed", installed}};
    for (const auto& copy : copies) writeFile(copy.second, "#!/bin/sh\n"), fs::permissions(copy.second, fs::perms::owner_all);
    writeFile(home / "usr/share/applications/com.quenvar.Zorvane.desktop", "[Desktop Entry]\nExec=" + installed.string() + " %U\n");
    const auto named = [&](const fs::path& file) {
        const std::string text = fs::exists(file) ? readFile(file) : "";
        for (const auto& [name, copy] : copies)
            if (text.find("\"" + copy.string() + "\"") != std::string::npos) return name;
        return std::string("none");
    };
    const auto start = [&](const fs::path& copy) {
        XdgLoginItem autostart(copy, folder);
        refreshDesktopEntries(autostart, LauncherEntry(copy, home / "icons", home / "share", {home / "usr/share"}));
        return named(autostartFile) + ", " + named(launcherFile);
    };
    XdgLoginItem(mine, folder).registerItem();
    EXPECT_EQ(start(mine), "mine, mine");
    EXPECT_EQ(start(old), "mine, mine");
    EXPECT_EQ(start(installed), "mine, mine");
    fs::remove_all(home / "apps");
    EXPECT_EQ(start(old), "mine, mine");
    EXPECT_EQ(start(installed), "installed, none");
    EXPECT_FALSE(fs::exists(home / "share/icons/hicolor/48x48/apps/com.quenvar.Zorvane.png"));
    EXPECT_EQ(start(old), "installed, none");
}

// An installed Zorvane 1.0.0 whose feed is on the loopback server, and its updater: automatic checks,
// then the user's own checks against every kind of bad release, an older one and a good one.
TEST(Updater, ChecksOnceADayAndSwapsInOnlyANewerSignedZorvane)
{
    ASSERT_GE(sodium_init(), 0);
    unsigned char publicKey[crypto_sign_PUBLICKEYBYTES], secretKey[crypto_sign_SECRETKEYBYTES];
    unsigned char otherPublic[crypto_sign_PUBLICKEYBYTES], otherSecret[crypto_sign_SECRETKEYBYTES];
    crypto_sign_keypair(publicKey, secretKey);
    crypto_sign_keypair(otherPublic, otherSecret);
    zorvane::testing::HttpServer server;
    fakes::TemporaryDirectory apps;
    const fs::path bundle = apps / "Zorvane.app";
    const std::string installed = infoPlist("1.0.0", server.url("/appcast.xml"), base64(publicKey, sizeof publicKey));
    const auto installOld = [&] {
        fs::remove_all(bundle);
        writeFile(bundle / "Contents/Info.plist", installed);
        writeFile(bundle / "Contents/MacOS/Zorvane", "#!/bin/sh\necho 1.0.0\n");
        fs::permissions(bundle / "Contents/MacOS/Zorvane", fs::perms::owner_all);
    };
    installOld();

    auto clock = std::make_shared<fakes::FakeClock>();
    auto queue = std::make_shared<fakes::ManualMainQueue>(*clock);
    auto defaults = std::make_shared<UserDefaults>(std::make_shared<fakes::MemoryPreferencesStore>());
    auto driver = std::make_shared<RecordingDriver>();
    std::atomic<int> killedAfter = -1;
    const auto settle = [&](LinuxUpdater& updater) { EXPECT_TRUE(queue->runUntil([&] { return !updater.isBusy(); })); };
    const auto start = [&] {
        auto updater = LinuxUpdater::create({std::make_shared<LinuxBundle>(bundle), defaults, queue, clock, driver,
            [&] { driver->seen += "quit\n"; }, [&](const std::string& program) { driver->seen += "relaunch " + program + "\n"; },
            10.0, [&](InstallStep reached) { return static_cast<int>(reached) == killedAfter; }});
        updater->start();
        settle(*updater);
        return updater;
    };
    // Announces `version` after an older one, with `archive` signed by `signingKey`, of which the
    // server has only the first `served` bytes.
    const auto publish = [&](const std::string& version, const std::string& archive, std::optional<std::size_t> served = {},
                             const unsigned char* signingKey = nullptr) {
        unsigned char signature[crypto_sign_BYTES];
        crypto_sign_detached(signature, nullptr, reinterpret_cast<const unsigned char*>(archive.data()), archive.size(),
            signingKey ? signingKey : secretKey);
        const auto item = [&](const std::string& v, const std::string& url, std::size_t length, const std::string& edSignature) {
            return "<item><title>" + v + "</title><sparkle:shortVersionString>" + v + "</sparkle:shortVersionString><enclosure url=\""
                + server.url(url) + "\" length=\"" + std::to_string(length) + "\" sparkle:edSignature=\"" + edSignature + "\"/></item>";
        };
        server.put("/appcast.xml", "<?xml version=\"1.0\"?>\n<rss version=\"2.0\" xmlns:sparkle=\"urn:updates\"><channel>"
                + item("0.9.0", "/old.tar.gz", 10, "AAAA") + item(version, "/zorvane.tar.gz", archive.size(), base64(signature, sizeof signature))
                + "</channel></rss>");
        server.put("/zorvane.tar.gz", archive.substr(0, served.value_or(archive.size())));
    };
    const auto leftovers = [&] {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(apps.path()))
            if (entry.path() != bundle) found.push_back(entry.path());
        return found;
    };

    // Automatic checks: the first a little after start, then at most one a day, also across
    // starts, and quiet when they find nothing.
    publish("1.0.0", tarGz(bundleFiles("1.0.0")));
    auto updater = start();
    EXPECT_TRUE(updater->automaticallyChecksForUpdates());
    EXPECT_FALSE(updater->automaticallyDownloadsUpdates());
    const auto checksAfter = [&](double seconds) {
        queue->advance(seconds);
        settle(*updater);
        return server.requests("/appcast.xml");
    };
    EXPECT_EQ(checksAfter(30), 1);
    updater.reset();
    clock->advance(3600);
    updater = start();
    EXPECT_EQ(checksAfter(6 * 3600), 1);
    EXPECT_EQ(checksAfter(18 * 3600), 2);
    EXPECT_EQ(driver->seen, "");
    updater->setAutomaticallyChecksForUpdates(false);
    EXPECT_EQ(checksAfter(3 * 24 * 3600), 2);

    // What the user sees of a check they ask for.
    const auto check = [&] {
        driver->seen.clear();
        updater->checkForUpdates();
        settle(*updater);
        return driver->seen;
    };
    const std::string good = tarGz(bundleFiles("1.1.0"));
    auto escaping = bundleFiles("1.1.0"), linkOut = escaping, linkChain = escaping, notZorvane = escaping, launcherOnly = escaping;
    escaping["Zorvane.app/../../escaped.txt"] = "outside";
    linkOut["Zorvane.app/Contents/passwd"] = "-> ../../../../etc/passwd";
    // Each text stays inside on paper; through the first link the second climbs out of the folder.
    linkChain["Zorvane.app/Contents/up"] = "-> ..";
    linkChain["Zorvane.app/Contents/out"] = "-> up/../../..";
    notZorvane["Zorvane.app/Contents/Info.plist"] = infoPlist("1.1.0", "", "", "org.example.Other");
    launcherOnly.erase("Zorvane.app/Contents/Frameworks/libzorvane-desktop.so");
    const std::pair<std::function<void()>, std::string> bad[] = {
        {[&] { publish("1.1.0", good, {}, otherSecret); }, "la firma de la actualización no es válida."},
        {[&] { publish("1.1.0", good, good.size() / 2); }, "la descarga está incompleta."},
        {[&] { publish("1.1.0", tarGz(escaping)); }, "el archivo de la actualización contiene rutas que salen de su carpeta."},
        {[&] { publish("1.1.0", tarGz(linkOut)); }, "el archivo de la actualización contiene rutas que salen de su carpeta."},
        {[&] { publish("1.1.0", tarGz(linkChain)); }, "el archivo de la actualización contiene rutas que salen de su carpeta."},
        {[&] { publish("1.1.0", tarGz(notZorvane)); }, "el archivo descargado no contiene una copia válida de Zorvane."},
        {[&] { publish("1.1.0", tarGz(launcherOnly)); }, "el archivo descargado no contiene una copia válida de Zorvane."},
        {[&] { publish("1.2.0", good); }, "la versión del archivo descargado no coincide con la anunciada."},
        {[&] { server.put("/appcast.xml", "<html><body>Mantenimiento</body>"); }, "la lista de versiones del servidor no es válida."},
    };
    for (const auto& [publishRelease, reason] : bad) {
        SCOPED_TRACE(reason);
        publishRelease();
        const std::string seen = check();
        EXPECT_TRUE(seen.ends_with("No se pudo actualizar Zorvane: " + reason + "\n") && seen.find("ready") == std::string::npos) << seen;
        EXPECT_EQ(readFile(bundle / "Contents/Info.plist"), installed);
        EXPECT_TRUE(leftovers().empty());
    }
    EXPECT_FALSE(fs::exists(apps.path().parent_path() / "escaped.txt"));
    publish("0.9.5", tarGz(bundleFiles("0.9.5")));
    EXPECT_EQ(check(), "up to date 1.0.0\n");

    // Killed between any two steps of an install, the next start finds one whole Zorvane in place,
    // the old one before the exchange and the new one after it, and nothing beside it.
    publish("1.1.0", good);
    for (int step = 0; step <= static_cast<int>(InstallStep::swapped); ++step) {
        SCOPED_TRACE(step);
        killedAfter = step;
        EXPECT_EQ(check(), "offered 1.1.0 over 1.0.0\n");
        updater.reset();
        updater = start();
        const bool swapped = step == static_cast<int>(InstallStep::swapped);
        EXPECT_EQ(readFile(bundle / "Contents/Info.plist"), swapped ? infoPlist("1.1.0") : installed);
        EXPECT_EQ(readFile(bundle / "Contents/MacOS/Zorvane"), swapped ? "#!/bin/sh\necho 1.1.0" : "#!/bin/sh\necho 1.0.0\n");
        EXPECT_EQ(fs::exists(bundle / "Contents/Resources/notes.txt"), swapped);
        EXPECT_TRUE(leftovers().empty());
    }
    killedAfter = -1;
    installOld();
    updater.reset();
    updater = start();
    EXPECT_EQ(check(), "offered 1.1.0 over 1.0.0\nready to restart into 1.1.0\n");
    EXPECT_EQ(LinuxBundle(bundle).infoValue("CFBundleShortVersionString"), "1.1.0");
    EXPECT_EQ(readFile(bundle / "Contents/Resources/notes.txt"), "new");
    EXPECT_EQ(::access((bundle / "Contents/MacOS/Zorvane").c_str(), X_OK), 0);
    // The old bundle waits beside the new one, untouched, until the next start.
    ASSERT_EQ(leftovers().size(), 1u);
    EXPECT_EQ(readFile(leftovers()[0] / "unpacked/Zorvane.app/Contents/Info.plist"), installed);
    driver->seen.clear();
    driver->restart(true);
    EXPECT_EQ(driver->seen, "relaunch " + (bundle / "Contents/MacOS/Zorvane").string() + "\nquit\n");
    EXPECT_EQ(check(), "up to date 1.1.0\n");
    updater.reset();
    updater = start();
    EXPECT_TRUE(leftovers().empty());
}
