#pragma once

// Headless Chromium driven through the DevTools protocol on --remote-debugging-pipe, for the
// end-to-end test. Every call has a deadline; the browser's process group is killed at the end.

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace zorvane::test_support {

class DevToolsBrowser {
public:
    // Runs without a display, with `environment` set on top of this process's own.
    DevToolsBrowser(const std::string& executable, const std::vector<std::string>& arguments,
                    const std::map<std::string, std::string>& environment, const std::filesystem::path& logFile)
    {
        int toBrowser[2], fromBrowser[2];
        if (::pipe2(toBrowser, O_CLOEXEC) != 0 || ::pipe2(fromBrowser, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        // Kept above 4 so the child's dup2 onto 3 and 4 always clears close-on-exec.
        const int childReads = ::fcntl(toBrowser[0], F_DUPFD_CLOEXEC, 10);
        const int childWrites = ::fcntl(fromBrowser[1], F_DUPFD_CLOEXEC, 10);
        ::close(toBrowser[0]);
        ::close(fromBrowser[1]);

        std::vector<std::string> argv {"/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY"};
        for (const auto& [key, value] : environment) argv.push_back(key + "=" + value);
        argv.push_back(executable);
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        argv.push_back("--remote-debugging-pipe");
        std::vector<char*> args;
        for (auto& a : argv) args.push_back(a.data());
        args.push_back(nullptr);

        const int log = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        pid_ = ::fork();
        if (pid_ < 0) throw std::runtime_error("fork failed");
        if (pid_ == 0) {
            ::setpgid(0, 0);
            ::dup2(childReads, 3);
            ::dup2(childWrites, 4);
            ::dup2(::open("/dev/null", O_RDONLY), STDIN_FILENO);
            ::dup2(log, STDOUT_FILENO);
            ::dup2(log, STDERR_FILENO);
            ::execv(args[0], args.data());
            ::_exit(127);
        }
        ::setpgid(pid_, pid_);
        ::close(log);
        ::close(childReads);
        ::close(childWrites);
        write_ = toBrowser[1];
        read_ = fromBrowser[0];
    }

    ~DevToolsBrowser()
    {
        kill();
        ::close(write_);
        ::close(read_);
    }

    DevToolsBrowser(const DevToolsBrowser&) = delete;
    DevToolsBrowser& operator=(const DevToolsBrowser&) = delete;

    // The result of one command; throws when it fails or gets no answer in time. Whatever else
    // the browser says meanwhile is skipped.
    nlohmann::json call(const std::string& method, nlohmann::json params = nlohmann::json::object(),
                        const std::string& session = "", std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        const int id = post(method, std::move(params), session);
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            for (std::size_t end; (end = buffer_.find('\0')) != std::string::npos;) {
                auto message = nlohmann::json::parse(buffer_.substr(0, end), nullptr, false);
                buffer_.erase(0, end + 1);
                if (!message.is_object() || !message.contains("id") || message["id"] != id) continue;
                if (message.contains("error")) throw std::runtime_error(method + ": " + message["error"].dump());
                return message["result"];
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd watched {read_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&watched, 1, static_cast<int>(left.count())) <= 0)
                throw std::runtime_error("no answer to " + method);
            char chunk[65536];
            const ssize_t count = ::read(read_, chunk, sizeof chunk);
            if (count <= 0) throw std::runtime_error("the browser went away during " + method);
            buffer_.append(chunk, static_cast<std::size_t>(count));
        }
    }

    // Sends a command without waiting for its answer (for one that ends the browser).
    int post(const std::string& method, nlohmann::json params = nlohmann::json::object(), const std::string& session = "")
    {
        nlohmann::json message {{"id", ++lastID_}, {"method", method}, {"params", std::move(params)}};
        if (!session.empty()) message["sessionId"] = session;
        std::string bytes = message.dump();
        bytes.push_back('\0');
        for (std::string_view left(bytes); !left.empty();) {
            const ssize_t count = ::write(write_, left.data(), left.size());
            if (count <= 0) break;
            left.remove_prefix(static_cast<std::size_t>(count));
        }
        return lastID_;
    }

    // The value of a JavaScript expression in a page or worker session (promises awaited).
    nlohmann::json evaluate(const std::string& session, const std::string& expression)
    {
        const auto result = call("Runtime.evaluate",
                                 {{"expression", expression}, {"returnByValue", true}, {"awaitPromise", true}}, session);
        if (result.contains("exceptionDetails")) throw std::runtime_error("script failed: " + result["exceptionDetails"].dump());
        return result["result"].value("value", nlohmann::json());
    }

    // True once the browser process has ended within the timeout.
    bool waitForExit(std::chrono::milliseconds timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!exited_ && !(exited_ = ::waitpid(pid_, nullptr, WNOHANG) == pid_)) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    // Ends whatever of the browser's own process group is left.
    void kill()
    {
        ::kill(-pid_, SIGKILL);
        if (!exited_) ::waitpid(pid_, nullptr, 0);
        exited_ = true;
    }

private:
    pid_t pid_ = -1;
    bool exited_ = false;
    int write_ = -1;
    int read_ = -1;
    std::string buffer_;
    int lastID_ = 0;
};

} // namespace zorvane::test_support
