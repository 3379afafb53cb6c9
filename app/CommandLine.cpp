#include "app/CommandLine.h"

#include "app/codex/CodexService.h"
#include "app/core/Defaults.h"
#include "app/core/LocalizedError.h"
#include "app/core/UserDefaults.h"
#include "app/platform/linux/PlistPreferencesStore.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <ostream>
#include <pthread.h>
#include <thread>

namespace zorvane {

std::string commandLineUsage()
{
    return "Uso: Zorvane [--select | --settings]\n"
           "       Zorvane --ask PREGUNTA [--image ARCHIVO.png] [--mode fast|thinking]\n"
           "  --select          empieza una selección en pantalla (en el Zorvane que ya está abierto)\n"
           "  --settings        abre los ajustes\n"
           "  --ask PREGUNTA    pregunta a Codex y escribe la respuesta\n"
           "  --image ARCHIVO   adjunta esa imagen PNG como selección\n"
           "  --mode MODO       fast o thinking (por omisión, el de los ajustes)\n";
}

CommandLineParse parseCommandLine(const std::vector<std::string>& arguments)
{
    CommandLineRequest request;
    bool asked = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& arg = arguments[i];
        auto value = [&](const char* option) -> std::optional<std::string> {
            if (i + 1 >= arguments.size()) return std::nullopt;
            (void)option;
            return arguments[++i];
        };
        if (arg == "--ask") {
            auto question = value("--ask");
            if (!question) return {std::nullopt, "Falta la pregunta después de --ask."};
            request.question = *question;
            asked = true;
        } else if (arg == "--image") {
            auto path = value("--image");
            if (!path) return {std::nullopt, "Falta el archivo después de --image."};
            request.imagePath = *path;
        } else if (arg == "--mode") {
            auto mode = value("--mode");
            if (!mode) return {std::nullopt, "Falta el modo después de --mode."};
            request.mode = AIResponseModes::fromRawValue(*mode);
            if (!request.mode) return {std::nullopt, "Modo desconocido: " + *mode + " (usa fast o thinking)."};
        } else if (arg == "--select") {
            request.action = CommandLineRequest::Action::select;
        } else if (arg == "--settings") {
            request.action = CommandLineRequest::Action::openSettings;
        } else if (arg == "--ui-test") {
            request.uiTest = true;
        } else if (arg == "--help" || arg == "-h") {
            request.action = CommandLineRequest::Action::showUsage;
            return {request, {}};
        } else {
            return {std::nullopt, "Argumento desconocido: " + arg};
        }
    }
    if (asked) {
        if (request.action != CommandLineRequest::Action::startApplication) {
            return {std::nullopt, "--ask no se combina con --select ni con --settings."};
        }
        request.action = CommandLineRequest::Action::ask;
    } else if (request.imagePath || request.mode) {
        return {std::nullopt, "--image y --mode solo valen junto con --ask."};
    }
    return {request, {}};
}

namespace {

std::optional<std::vector<std::uint8_t>> readImage(const std::string& path, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "No se pudo abrir la imagen " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    static constexpr std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (bytes.size() < 8 || !std::equal(signature, signature + 8, bytes.begin())) {
        error = "El archivo no es una imagen PNG: " + path;
        return std::nullopt;
    }
    return bytes;
}

AIResponseMode modeFromSettings()
{
    UserDefaults defaults(std::make_shared<linux_platform::PlistPreferencesStore>(linux_platform::PlistPreferencesStore::defaultPath()));
    try {
        Defaults::registerDefaults(defaults);
    } catch (const std::exception&) {
        // An unwritable settings folder must not stop a question; the values still hold in memory.
    }
    return Defaults::responseMode(defaults);
}

// While the question runs, Ctrl+C, a closed terminal or SIGTERM end the tool's child (which runs
// in a process group of its own and would not see them) before the program ends.
class InterruptionWatch {
public:
    InterruptionWatch()
    {
        sigemptyset(&signals_);
        for (int number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals_, number);
        pthread_sigmask(SIG_BLOCK, &signals_, &previous_);
        watcher_ = std::thread([this] {
            const timespec step {0, 100'000'000};
            while (!done_) {
                const int number = sigtimedwait(&signals_, nullptr, &step);
                if (number > 0) {
                    received_ = number;
                    cancellation->cancel();
                    return;
                }
            }
        });
    }
    ~InterruptionWatch()
    {
        done_ = true;
        watcher_.join();
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    InterruptionWatch(const InterruptionWatch&) = delete;
    InterruptionWatch& operator=(const InterruptionWatch&) = delete;

    int received() const { return received_; }

    const std::shared_ptr<Cancellation> cancellation = std::make_shared<Cancellation>();

private:
    sigset_t signals_ {};
    sigset_t previous_ {};
    std::atomic<bool> done_ {false};
    std::atomic<int> received_ {0};
    std::thread watcher_;
};

} // namespace

int runAsk(const CommandLineRequest& request, std::ostream& out, std::ostream& err)
{
    std::optional<CapturedContext> context;
    if (request.imagePath) {
        std::string error;
        auto image = readImage(*request.imagePath, error);
        if (!image) {
            err << error << '\n';
            return 1;
        }
        CapturedContext selection;
        selection.kind = CapturedContext::Kind::image;
        selection.appName = "Pantalla";
        selection.role = "Imagen";
        selection.title = request.imagePath->substr(request.imagePath->find_last_of('/') + 1);
        selection.imageData = std::move(*image);
        context = std::move(selection);
    }
    const AIResponseMode mode = request.mode ? *request.mode : modeFromSettings();
    try {
        CodexService codex;
        std::string answer;
        {
            InterruptionWatch interruptions;
            try {
                answer = codex.send(request.question, context, mode, interruptions.cancellation);
            } catch (const OperationCancelled&) {
                return 128 + interruptions.received();
            }
        }
        out << answer << '\n';
        out.flush();
        if (!out) {
            err << "No se pudo escribir la respuesta.\n";
            return 1;
        }
        return 0;
    } catch (const std::exception& e) {
        err << describe(e) << '\n';
        return 1;
    }
}

} // namespace zorvane
