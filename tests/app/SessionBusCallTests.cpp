#include "app/launcher/SessionBusCall.h"
#include "fakes/TemporaryDirectory.h"
#include "tests/support/Processes.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

using namespace zorvane;
using launcher::CallResult;
using zorvane::testing::Processes;
using zorvane::testing::ScopedEnvironment;

namespace {

// Owns com.quenvar.Zorvane on the session bus (then writes its process id), answers Select and
// writes each call's name to a file.
constexpr const char* standIn = R"(
import os, sys
from gi.repository import Gio, GLib
node = Gio.DBusNodeInfo.new_for_xml("<node><interface name='com.quenvar.Zorvane'><method name='Select'/></interface></node>")
def called(connection, sender, path, interface, method, parameters, invocation):
    open(sys.argv[2], 'a').write(method + '\n')
    invocation.return_value(None)
bus = Gio.bus_get_sync(Gio.BusType.SESSION)
bus.register_object('/com/quenvar/Zorvane', node.interfaces[0], called)
ready = lambda *a: open(int(sys.argv[1]), 'w').write(str(os.getpid()) + '\n')
Gio.bus_own_name_on_connection(bus, 'com.quenvar.Zorvane', 0, ready, None)
GLib.MainLoop().run()
)";

CallResult select(int timeoutMilliseconds = 3000)
{
    return launcher::callOnSessionBus("com.quenvar.Zorvane", "/com/quenvar/Zorvane", "com.quenvar.Zorvane", "Select",
                                      timeoutMilliseconds);
}

} // namespace

TEST(SessionBusCall, ReachesTheRunningInstanceOnThisUsersBusAndTellsNoneFromOneThatDoesNotAnswer)
{
    fakes::TemporaryDirectory dir;
    Processes processes(dir.path());
    ScopedEnvironment environment;
    environment.set("XDG_RUNTIME_DIR", dir.path().string());
    environment.set("DBUS_SESSION_BUS_ADDRESS", std::nullopt);
    EXPECT_EQ(select(), CallResult::noReceiver) << "no bus at all";

    const std::string address = processes.startAndReadLine(
        {"dbus-daemon", "--session", "--nofork", "--address=unix:path=" + (dir / "bus").string(), "--print-address={fd}"}, 10);
    ASSERT_FALSE(address.empty());
    EXPECT_EQ(select(), CallResult::noReceiver) << "no Zorvane running";

    // The address from the environment, escapes and all; unusable entries before it are skipped.
    environment.set("DBUS_SESSION_BUS_ADDRESS", "tcp:host=localhost,port=1;unix:path=" + dir.path().string() + "/nowhere;"
                                                    "unix:path=" + dir.path().string() + "/b%75s");
    const pid_t running = std::atoi(processes.startAndReadLine({"/usr/bin/python3", "-c", standIn, "{fd}", (dir / "calls").string()}, 10).c_str());
    ASSERT_GT(running, 0);
    EXPECT_EQ(select(), CallResult::returned);
    environment.set("DBUS_SESSION_BUS_ADDRESS", std::nullopt); // $XDG_RUNTIME_DIR/bus
    EXPECT_EQ(select(), CallResult::returned);
    EXPECT_EQ(fakes::readFile(dir / "calls"), "Select\nSelect\n");

    // A Zorvane that hangs: the launcher says so instead of starting a second one.
    ::kill(running, SIGSTOP);
    EXPECT_EQ(select(200), CallResult::unanswered);
    ::kill(running, SIGCONT);
}
