#pragma once

// Chromium without a display, driven through the DevTools protocol on --remote-debugging-pipe.
// Every call has a deadline; the browser is one of the world's processes, stopped by process id.

#include "tests/support/Processes.h"

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace zorvane::testing {

class DevToolsBrowser {
public:
    // Starts `command` (the browser and its arguments) with `environment` added, in `processes`.
    DevToolsBrowser(Processes& processes, std::vector<std::string> command, const std::map<std::string, std::string>& environment)
    {
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) throw std::runtime_error("socketpair failed");
        socket_ = ends[0];
        // The browser reads commands on descriptor 3 and answers on 4: both are the socket's other
        // end, moved above 4 first so that neither redirection closes it.
        const int theirs = ::fcntl(ends[1], F_DUPFD_CLOEXEC, 10);
        ::close(ends[1]);
        const std::string end = std::to_string(theirs);
        command.insert(command.begin(), {"bash", "-c", "unset DISPLAY WAYLAND_DISPLAY; exec \"$@\" 3<&" + end + " 4>&" + end + " " + end + "<&-", "bash"});
        command.push_back("--remote-debugging-pipe");
        try {
            pid_ = processes.start(command, environment, theirs);
        } catch (...) {
            ::close(socket_);
            ::close(theirs);
            throw;
        }
        ::close(theirs);
    }
    ~DevToolsBrowser() { ::close(socket_); }
    DevToolsBrowser(const DevToolsBrowser&) = delete;
    DevToolsBrowser& operator=(const DevToolsBrowser&) = delete;
    pid_t pid() const { return pid_; }

    // The result of one command in the browser or in a page's or worker's session; throws when it
    // fails or gets no answer in time. Whatever else the browser says meanwhile is skipped.
    nlohmann::json call(const std::string& method, const nlohmann::json& params = nlohmann::json::object(), const std::string& session = "")
    {
        nlohmann::json message {{"id", ++lastID_}, {"method", method}, {"params", params}};
        if (!session.empty()) message["sessionId"] = session;
        const std::string bytes = message.dump() + '\0';
        if (::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size())) throw std::runtime_error("the browser is gone");
        for (const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);;) {
            for (std::size_t end; (end = received_.find('\0')) != std::string::npos;) {
                const auto answer = nlohmann::json::parse(received_.substr(0, end), nullptr, false);
                received_.erase(0, end + 1);
                if (!answer.contains("id") || answer["id"] != lastID_) continue;
                if (answer.contains("error")) throw std::runtime_error(method + ": " + answer["error"].dump());
                return answer["result"];
            }
            pollfd watched {socket_, POLLIN, 0};
            char chunk[65536];
            ssize_t count = 0;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0 || ::poll(&watched, 1, static_cast<int>(left)) <= 0 || (count = ::read(socket_, chunk, sizeof chunk)) <= 0)
                throw std::runtime_error("no answer to " + method);
            received_.append(chunk, static_cast<std::size_t>(count));
        }
    }

    // The value of a JavaScript expression in a page or worker session (promises awaited).
    nlohmann::json evaluate(const std::string& session, const std::string& expression)
    {
        const auto result = call("Runtime.evaluate", {{"expression", expression}, {"returnByValue", true}, {"awaitPromise", true}}, session);
        if (result.contains("exceptionDetails")) throw std::runtime_error("script failed: " + result["exceptionDetails"].dump());
        return result["result"].value("value", nlohmann::json());
    }

private:
    int socket_ = -1;
    pid_t pid_ = -1;
    std::string received_;
    int lastID_ = 0;
};

} // namespace zorvane::testing
