// The `Zorvane` executable. A launch that only hands a request to the running Zorvane (no
// arguments: its menu; --select; --settings) does so here, before anything else is loaded: this
// program links the C library alone. Every other launch — the first one, --ask, --help — loads
// the program proper (libzorvane-desktop.so: Qt, the adapters, the recognisers) and runs it.
#include "app/launcher/SessionBusCall.h"

#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

namespace {

// The request this command line only hands over, or none when the program proper must run.
const char* handedOverMethod(int argc, char** argv)
{
    if (argc == 1) return "ShowMenu";
    if (argc != 2) return nullptr;
    if (std::strcmp(argv[1], "--select") == 0) return "Select";
    if (std::strcmp(argv[1], "--settings") == 0) return "OpenSettings";
    return nullptr;
}

// The program proper beside this executable: Contents/Frameworks/ in the bundle (Contents/MacOS/),
// lib/zorvane/ in an installed copy (bin/).
bool programLibrary(char (&path)[PATH_MAX])
{
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return false;
    path[length] = '\0';
    char* slash = std::strrchr(path, '/');
    if (!slash) return false;
    *slash = '\0';
    const char* folder = std::strrchr(path, '/');
    const bool inBundle = folder && std::strcmp(folder, "/MacOS") == 0;
    const std::size_t used = static_cast<std::size_t>(slash - path);
    const int written = std::snprintf(slash, sizeof path - used, "%s",
                                      inBundle ? "/../Frameworks/libzorvane-desktop.so" : "/../lib/zorvane/libzorvane-desktop.so");
    return written > 0 && static_cast<std::size_t>(written) < sizeof path - used;
}

} // namespace

int main(int argc, char** argv)
{
    using zorvane::launcher::CallResult;
    if (const char* method = handedOverMethod(argc, argv)) {
        switch (zorvane::launcher::callOnSessionBus("com.quenvar.Zorvane", "/com/quenvar/Zorvane", "com.quenvar.Zorvane",
                                                    method, 3000)) {
        case CallResult::returned: return 0;
        case CallResult::unanswered: std::fputs("Zorvane ya está abierto pero no responde.\n", stderr); return 1;
        case CallResult::noReceiver: break; // this is the first instance
        }
    }

    char path[PATH_MAX] = "libzorvane-desktop.so";
    void* program = programLibrary(path) ? ::dlopen(path, RTLD_LAZY | RTLD_LOCAL) : nullptr;
    using Main = int (*)(int, char**);
    Main run = program ? reinterpret_cast<Main>(::dlsym(program, "zorvaneDesktopMain")) : nullptr;
    if (!run) {
        const char* why = ::dlerror();
        std::fprintf(stderr, "Zorvane está incompleto: no se puede cargar %s (%s).\n", path, why ? why : "no existe");
        return 1;
    }
    return run(argc, argv);
}
