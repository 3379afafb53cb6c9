#include "app/platform/linux/LinuxBundle.h"
#include "app/platform/linux/desktop/DesktopEntryFile.h"
#include "app/platform/linux/desktop/LauncherEntry.h"
#include "app/platform/linux/desktop/LinuxUpdater.h"
#include "app/platform/linux/desktop/XdgLoginItem.h"
#include "app/system/LaunchAtLoginService.h"
#include "fakes/MemoryPreferencesStore.h"
#include "fakes/TemporaryDirectory.h"
#include "fakes/VirtualTime.h"

#include <archive.h>
#include <archive_entry.h>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sodium.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <thread>

using namespace zorvane;
using namespace zorvane::linux_platform;

namespace {

std::string readAll(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeText(const std::filesystem::path& file, const std::string& text)
{
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

// A plain HTTP/1.0 server on 127.0.0.1 and a free port, on a thread of the test. Each path answers
// with a fixed body, which can be cut short after its headers announced the full length, as a
// dropped connection would.
class LoopbackHttpServer {
public:
    struct Response {
        std::string body;
        std::optional<std::size_t> cutAfter = {};
    };

    LoopbackHttpServer()
    {
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
            || ::listen(listener_, 16) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("loopback server");
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] {
            while (!stopping_) {
                pollfd waiting {listener_, POLLIN, 0};
                if (::poll(&waiting, 1, 50) <= 0) continue;
                if (const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC); client >= 0) {
                    answer(client);
                    ::close(client);
                }
            }
        });
    }
    ~LoopbackHttpServer()
    {
        stopping_ = true;
        thread_.join();
        ::close(listener_);
    }

    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
    void serve(const std::string& path, Response response)
    {
        std::lock_guard lock(mutex_);
        responses_[path] = std::move(response);
    }
    int requests(const std::string& path)
    {
        std::lock_guard lock(mutex_);
        return requests_[path];
    }

private:
    void answer(int client)
    {
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
            const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0) return;
            request.append(buffer, static_cast<std::size_t>(n));
        }
        const auto start = request.find(' ') + 1;
        const std::string path = request.substr(start, request.find(' ', start) - start);
        std::optional<Response> response;
        {
            std::lock_guard lock(mutex_);
            ++requests_[path];
            if (auto found = responses_.find(path); found != responses_.end()) response = found->second;
        }
        std::string reply = "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n";
        if (response)
            reply = "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(response->body.size()) + "\r\n\r\n"
                + response->body.substr(0, response->cutAfter.value_or(response->body.size()));
        for (std::size_t sent = 0; sent < reply.size();) {
            const ssize_t n = ::send(client, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return;
            sent += static_cast<std::size_t>(n);
        }
    }

    int listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_ {false};
    std::mutex mutex_;
    std::map<std::string, Response> responses_;
    std::map<std::string, int> requests_;
    std::thread thread_;
};

std::string infoPlist(const std::string& version, const std::string& feed = "", const std::string& key = "",
    const std::string& identifier = "com.quenvar.zorvane")
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>CFBundleExecutable</key><string>Zorvane</string>"
           "<key>CFBundleIdentifier</key><string>"
        + identifier + "</string><key>CFBundleShortVersionString</key><string>" + version
        + "</string><key>SUFeedURL</key><string>" + feed + "</string><key>SUPublicEDKey</key><string>" + key
        + "</string></dict></plist>\n";
}

struct Entry {
    std::string path;
    std::string content;
    mode_t type = AE_IFREG;
    std::string linkTarget = {};
};

std::vector<Entry> bundleEntries(const std::string& version)
{
    return {{"Zorvane.app/", "", AE_IFDIR},
        {"Zorvane.app/Contents/Info.plist", infoPlist(version)},
        {"Zorvane.app/Contents/MacOS/Zorvane", "#!/bin/sh\necho " + version + "\n"},
        {"Zorvane.app/Contents/Resources/notes.txt", "new resources"}};
}

std::string tarGz(const std::vector<Entry>& entries, const std::filesystem::path& scratch)
{
    archive* writer = archive_write_new();
    archive_write_add_filter_gzip(writer);
    archive_write_set_format_pax_restricted(writer);
    archive_write_open_filename(writer, scratch.c_str());
    for (const auto& e : entries) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, e.path.c_str());
        archive_entry_set_filetype(entry, e.type);
        archive_entry_set_perm(entry, e.type == AE_IFDIR || e.path.ends_with("MacOS/Zorvane") ? 0755 : 0644);
        if (e.type == AE_IFLNK) archive_entry_set_symlink(entry, e.linkTarget.c_str());
        archive_entry_set_size(entry, e.type == AE_IFREG ? static_cast<la_int64_t>(e.content.size()) : 0);
        archive_write_header(writer, entry);
        if (e.type == AE_IFREG) archive_write_data(writer, e.content.data(), e.content.size());
        archive_entry_free(entry);
    }
    archive_write_close(writer);
    archive_write_free(writer);
    return readAll(scratch);
}

std::string base64(const unsigned char* data, std::size_t size)
{
    std::string text(sodium_base64_encoded_len(size, sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), data, size, sodium_base64_VARIANT_ORIGINAL);
    text.pop_back();
    return text;
}

class RecordingDriver : public UpdateUserDriver {
public:
    void showUpToDate(const std::string& version) override { upToDate = version; }
    void showUpdateFound(const std::string& version, const std::string&, std::function<void(bool)> reply) override
    {
        offered = version;
        reply(true);
    }
    void showReadyToRestart(const std::string& version, std::function<void(bool)> reply) override
    {
        readyToRestart = version;
        restart = std::move(reply);
    }
    void showFailure(const std::string& message) override { failure = message; }

    std::optional<std::string> upToDate, offered, readyToRestart, failure;
    std::function<void(bool)> restart;
};

class UpdaterTest : public ::testing::Test {
protected:
    UpdaterTest()
    {
        EXPECT_GE(sodium_init(), 0);
        crypto_sign_keypair(publicKey, secretKey);
        bundle = apps.path() / "Zorvane.app";
        installedPlist = infoPlist("1.0.0", server.url("/appcast.xml"), base64(publicKey, sizeof publicKey));
        writeText(bundle / "Contents/Info.plist", installedPlist);
        writeText(bundle / "Contents/MacOS/Zorvane", "#!/bin/sh\necho 1.0.0\n");
        ::chmod((bundle / "Contents/MacOS/Zorvane").c_str(), 0755);
    }

    std::shared_ptr<LinuxUpdater> makeUpdater()
    {
        LinuxUpdaterOptions options;
        options.bundle = std::make_shared<LinuxBundle>(bundle);
        options.defaults = defaults;
        options.mainQueue = queue;
        options.clock = clock;
        options.userDriver = driver;
        options.quitApplication = [this] { ++quits; };
        options.relaunchAfterExit = [this](const std::string& program) { relaunched = program; };
        auto updater = LinuxUpdater::create(std::move(options));
        updater->start();
        settle(*updater);
        return updater;
    }

    void settle(LinuxUpdater& updater)
    {
        EXPECT_TRUE(queue->runUntil([&] { return !updater.isBusy(); }));
    }

    // Publishes one release: `archive` signed with `signingKey`, announced as `version` with `length`.
    void publish(const std::string& version, const std::string& archive, std::optional<std::size_t> cutAfter = {},
        const unsigned char* signingKey = nullptr)
    {
        unsigned char signature[crypto_sign_BYTES];
        crypto_sign_detached(signature, nullptr, reinterpret_cast<const unsigned char*>(archive.data()), archive.size(),
            signingKey ? signingKey : secretKey);
        server.serve("/appcast.xml",
            {"<?xml version=\"1.0\"?>\n<rss version=\"2.0\" xmlns:sparkle=\"urn:updates\"><channel><title>Zorvane</title>"
             "<item><title>Old</title><sparkle:shortVersionString>0.9.0</sparkle:shortVersionString>"
             "<enclosure url=\""
                + server.url("/old.tar.gz") + "\" length=\"10\" sparkle:edSignature=\"AAAA\"/></item>"
                + "<item><title>New</title><sparkle:shortVersionString>" + version
                + "</sparkle:shortVersionString><enclosure url=\"" + server.url("/zorvane.tar.gz") + "\" length=\""
                + std::to_string(archive.size()) + "\" type=\"application/octet-stream\" sparkle:edSignature=\""
                + base64(signature, sizeof signature) + "\"/></item></channel></rss>"});
        server.serve("/zorvane.tar.gz", {archive, cutAfter});
    }

    std::vector<std::filesystem::path> leftovers() const
    {
        std::vector<std::filesystem::path> found;
        for (const auto& entry : std::filesystem::directory_iterator(apps.path()))
            if (entry.path() != bundle) found.push_back(entry.path());
        return found;
    }

    fakes::TemporaryDirectory apps;
    fakes::TemporaryDirectory scratch;
    LoopbackHttpServer server;
    std::shared_ptr<fakes::FakeClock> clock = std::make_shared<fakes::FakeClock>();
    std::shared_ptr<fakes::ManualMainQueue> queue = std::make_shared<fakes::ManualMainQueue>(*clock);
    std::shared_ptr<UserDefaults> defaults
        = std::make_shared<UserDefaults>(std::make_shared<fakes::MemoryPreferencesStore>());
    std::shared_ptr<RecordingDriver> driver = std::make_shared<RecordingDriver>();
    unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
    unsigned char secretKey[crypto_sign_SECRETKEYBYTES];
    std::filesystem::path bundle;
    std::string installedPlist;
    int quits = 0;
    std::optional<std::string> relaunched;
};

} // namespace

// Switching start-at-login on and off as the settings toggle does, with a program path that needs
// quoting, a hand-disabled entry and a moved bundle.
TEST(Autostart, EntryIsWrittenFoundEnabledAndRemoved)
{
    fakes::TemporaryDirectory home;
    const std::filesystem::path program = home / "Mis Apps/Zorvane \"beta\" $1.app/Contents/MacOS/Zorvane";
    const std::filesystem::path folder = home / "config/autostart";
    auto item = std::make_shared<XdgLoginItem>(program, folder);
    LaunchAtLoginService service(item);

    EXPECT_FALSE(service.isEnabled());
    service.setEnabled(true);
    EXPECT_TRUE(service.isEnabled());
    const std::string entry = readAll(folder / "com.quenvar.Zorvane.desktop");
    EXPECT_NE(entry.find("[Desktop Entry]\nType=Application\n"), std::string::npos);
    EXPECT_EQ(DesktopEntryFile::execProgram(DesktopEntryFile::quotedExecArgument(program.string())), program.string());

    // Another copy of Zorvane does not see this entry as its own.
    EXPECT_EQ(XdgLoginItem(home / "other/Zorvane", folder).status(), LoginItem::Status::notRegistered);

    // A desktop's "disable" marks the entry Hidden; that counts as off and enabling rewrites it.
    writeText(folder / "com.quenvar.Zorvane.desktop", entry + "Hidden=true\n");
    EXPECT_FALSE(service.isEnabled());
    EXPECT_FALSE(item->refreshIfEnabled());
    service.setEnabled(true);
    EXPECT_TRUE(service.isEnabled());

    // The bundle moved: the entry is pointed at the new place at start.
    XdgLoginItem moved(home / "moved/Zorvane.app/Contents/MacOS/Zorvane", folder);
    EXPECT_EQ(moved.status(), LoginItem::Status::notRegistered);
    EXPECT_TRUE(moved.refreshIfEnabled());
    EXPECT_EQ(moved.status(), LoginItem::Status::enabled);
    EXPECT_FALSE(moved.refreshIfEnabled());

    LaunchAtLoginService movedService(std::make_shared<XdgLoginItem>(moved));
    movedService.setEnabled(false);
    EXPECT_FALSE(std::filesystem::exists(folder / "com.quenvar.Zorvane.desktop"));
    EXPECT_FALSE(movedService.isEnabled());
    EXPECT_NO_THROW(movedService.setEnabled(false));
    // No temporary files are left behind.
    EXPECT_TRUE(std::filesystem::is_empty(folder));
}

TEST(Autostart, AFolderThatCannotBeWrittenGivesASpanishReason)
{
    fakes::TemporaryDirectory home;
    struct Case {
        std::filesystem::path folder;
        std::string reason;
    };
    std::vector<Case> cases;
    writeText(home / "config", "not a folder");
    cases.push_back({home / "config/autostart", "una parte de la ruta no es una carpeta"});
    if (::geteuid() != 0) { // root writes anywhere
        std::filesystem::create_directories(home / "locked/autostart");
        ::chmod((home / "locked/autostart").c_str(), 0500);
        cases.push_back({home / "locked/autostart", "no hay permiso para escribir ahí"});
    }
    for (const auto& c : cases) {
        XdgLoginItem item(home / "Zorvane.app/Contents/MacOS/Zorvane", c.folder);
        try {
            item.registerItem();
            ADD_FAILURE() << "no error for " << c.folder;
        } catch (const std::system_error& error) {
            EXPECT_EQ(std::string(error.what()),
                "No se pudo crear la entrada de inicio automático en " + c.folder.string() + ": " + c.reason);
        }
        EXPECT_EQ(item.status(), LoginItem::Status::notRegistered);
    }
}

TEST(LauncherEntryFile, InstallsTheMenuEntryAndTheIconsForThisBundle)
{
    fakes::TemporaryDirectory home;
    const std::filesystem::path icons = home / "Resources/icons";
    writeText(icons / "icon48.png", "png48");
    writeText(icons / "icon128.png", "png128");
    const std::filesystem::path program = home / "Zorvane 2.app/Contents/MacOS/Zorvane";

    LauncherEntry(program, icons, home / "share").install();
    LauncherEntry(program, icons, home / "share").install(); // at every start: same result

    EXPECT_EQ(readAll(home / "share/icons/hicolor/128x128/apps/com.quenvar.Zorvane.png"), "png128");
    EXPECT_EQ(readAll(home / "share/icons/hicolor/48x48/apps/com.quenvar.Zorvane.png"), "png48");
    EXPECT_FALSE(std::filesystem::exists(home / "share/icons/hicolor/16x16"));
    const auto keys = DesktopEntryFile::readMainGroup(home / "share/applications/com.quenvar.Zorvane.desktop");
    ASSERT_TRUE(keys);
    EXPECT_EQ(keys->at("Name"), "Zorvane");
    EXPECT_EQ(keys->at("Icon"), "com.quenvar.Zorvane");
    EXPECT_EQ(DesktopEntryFile::execProgram(keys->at("Exec")), program.string());
    const std::string entry = readAll(home / "share/applications/com.quenvar.Zorvane.desktop");
    EXPECT_NE(entry.find("Exec=\"" + program.string() + "\" --settings\n"), std::string::npos);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(home / "share/applications"), {}), 1);
}

TEST_F(UpdaterTest, ANewerSignedReleaseIsSwappedInAndTheOldBundleKeptUntilTheNextStart)
{
    publish("1.1.0", tarGz(bundleEntries("1.1.0"), scratch / "a.tar.gz"));
    auto updater = makeUpdater();
    updater->checkForUpdates();
    settle(*updater);

    EXPECT_EQ(driver->failure, std::nullopt);
    EXPECT_EQ(driver->offered, "1.1.0");
    EXPECT_EQ(driver->readyToRestart, "1.1.0");
    EXPECT_EQ(LinuxBundle(bundle).infoValue("CFBundleShortVersionString"), "1.1.0");
    EXPECT_EQ(readAll(bundle / "Contents/Resources/notes.txt"), "new resources");
    EXPECT_EQ(std::filesystem::status(bundle / "Contents/MacOS/Zorvane").permissions() & std::filesystem::perms::owner_exec,
        std::filesystem::perms::owner_exec);
    // The old bundle waits beside the new one, with its own settings untouched.
    const auto kept = leftovers();
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(readAll(kept[0] / "unpacked/Zorvane.app/Contents/Info.plist"), installedPlist);

    driver->restart(true);
    EXPECT_EQ(relaunched, (bundle / "Contents/MacOS/Zorvane").string());
    EXPECT_EQ(quits, 1);

    // A second check finds nothing newer than what is now installed.
    updater->checkForUpdates();
    settle(*updater);
    EXPECT_EQ(driver->upToDate, "1.1.0");

    // The next start clears the old bundle away.
    updater.reset();
    auto next = makeUpdater();
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(UpdaterTest, EveryBadReleaseLeavesTheInstalledBundleUntouchedAndSaysWhy)
{
    unsigned char otherPublic[crypto_sign_PUBLICKEYBYTES];
    unsigned char otherSecret[crypto_sign_SECRETKEYBYTES];
    crypto_sign_keypair(otherPublic, otherSecret);
    const std::string good = tarGz(bundleEntries("1.1.0"), scratch / "good.tar.gz");
    auto escaping = bundleEntries("1.1.0");
    escaping.push_back({"Zorvane.app/../../escaped.txt", "outside"});
    auto linkOut = bundleEntries("1.1.0");
    linkOut.push_back({"Zorvane.app/Contents/passwd", "", AE_IFLNK, "../../../../etc/passwd"});
    auto notZorvane = bundleEntries("1.1.0");
    notZorvane[1].content = infoPlist("1.1.0", "", "", "org.example.Other");

    struct Case {
        const char* name;
        std::function<void()> setUp;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {"wrong signature", [&] { publish("1.1.0", good, {}, otherSecret); }, "la firma de la actualización no es válida."},
        {"truncated download", [&] { publish("1.1.0", good, good.size() / 2); }, "la descarga está incompleta."},
        {"path leaving the folder", [&] { publish("1.1.0", tarGz(escaping, scratch / "e.tar.gz")); },
            "el archivo de la actualización contiene rutas que salen de su carpeta."},
        {"link leaving the folder", [&] { publish("1.1.0", tarGz(linkOut, scratch / "l.tar.gz")); },
            "el archivo de la actualización contiene rutas que salen de su carpeta."},
        {"another program", [&] { publish("1.1.0", tarGz(notZorvane, scratch / "o.tar.gz")); },
            "el archivo descargado no contiene una copia válida de Zorvane."},
        {"version other than announced", [&] { publish("1.2.0", good); },
            "la versión del archivo descargado no coincide con la anunciada."},
        {"not a feed", [&] { server.serve("/appcast.xml", {"<html><body>Mantenimiento</body>"}); },
            "la lista de versiones del servidor no es válida."},
    };
    auto updater = makeUpdater();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        *driver = RecordingDriver();
        c.setUp();
        updater->checkForUpdates();
        settle(*updater);
        EXPECT_EQ(driver->failure, std::string("No se pudo actualizar Zorvane: ") + c.reason);
        EXPECT_EQ(driver->readyToRestart, std::nullopt);
        EXPECT_EQ(readAll(bundle / "Contents/Info.plist"), installedPlist);
        EXPECT_TRUE(leftovers().empty());
    }
    EXPECT_FALSE(std::filesystem::exists(apps.path().parent_path() / "escaped.txt"));

    // An older release is not offered at all.
    *driver = RecordingDriver();
    publish("0.9.5", tarGz(bundleEntries("0.9.5"), scratch / "old.tar.gz"));
    updater->checkForUpdates();
    settle(*updater);
    EXPECT_EQ(driver->upToDate, "1.0.0");
    EXPECT_EQ(driver->offered, std::nullopt);
    EXPECT_EQ(server.requests("/zorvane.tar.gz"), 6); // the six releases above that got as far as a download
}

TEST_F(UpdaterTest, AutomaticChecksRunAtMostOnceADayAcrossStarts)
{
    publish("1.0.0", tarGz(bundleEntries("1.0.0"), scratch / "same.tar.gz"));
    auto updater = makeUpdater();
    EXPECT_TRUE(updater->automaticallyChecksForUpdates());
    EXPECT_FALSE(updater->automaticallyDownloadsUpdates());
    queue->advance(30);
    settle(*updater);
    EXPECT_EQ(server.requests("/appcast.xml"), 1);
    EXPECT_EQ(driver->upToDate, std::nullopt); // automatic checks that find nothing stay quiet

    // Zorvane quits and starts again an hour later: no second check that day.
    updater.reset();
    clock->advance(3600);
    updater = makeUpdater();
    queue->advance(6 * 3600);
    settle(*updater);
    EXPECT_EQ(server.requests("/appcast.xml"), 1);

    // A day after the first check it looks again, and again a day later.
    queue->advance(18 * 3600);
    settle(*updater);
    EXPECT_EQ(server.requests("/appcast.xml"), 2);
    queue->advance(24 * 3600 + 1);
    settle(*updater);
    EXPECT_EQ(server.requests("/appcast.xml"), 3);

    // Switched off, it does not look any more.
    updater->setAutomaticallyChecksForUpdates(false);
    queue->advance(3 * 24 * 3600);
    settle(*updater);
    EXPECT_EQ(server.requests("/appcast.xml"), 3);
}
