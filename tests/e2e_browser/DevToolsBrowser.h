#pragma once

// Headless Chromium driven through the DevTools protocol on --remote-debugging-pipe, for the
// end-to-end test. Every call has a deadline; the browser's process group is killed at the end.

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace zorvane::test_support {

class DevToolsBrowser {
public:
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

        std::vector<std::string> argv {executable};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        argv.push_back("--remote-debugging-pipe");
        std::vector<char*> args;
        for (auto& a : argv) args.push_back(a.data());
        args.push_back(nullptr);

        std::map<std::string, std::string> merged;
        for (char** e = environ; *e; ++e) {
            const std::string entry(*e);
            const auto equals = entry.find('=');
            if (equals != std::string::npos) merged[entry.substr(0, equals)] = entry.substr(equals + 1);
        }
        merged.erase("DISPLAY");
        merged.erase("WAYLAND_DISPLAY");
        for (const auto& [key, value] : environment) merged[key] = value;
        std::vector<std::string> envStrings;
        for (const auto& [key, value] : merged) envStrings.push_back(key + "=" + value);
        std::vector<char*> envp;
        for (auto& e : envStrings) envp.push_back(e.data());
        envp.push_back(nullptr);

        const int log = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        pid_ = ::fork();
        if (pid_ < 0) throw std::runtime_error("fork failed");
        if (pid_ == 0) {
            ::setpgid(0, 0);
            ::dup2(childReads, 3);
            ::dup2(childWrites, 4);
            const int null = ::open("/dev/null", O_RDONLY);
            ::dup2(null, STDIN_FILENO);
            if (log >= 0) {
                ::dup2(log, STDOUT_FILENO);
                ::dup2(log, STDERR_FILENO);
            }
            ::execve(args[0], args.data(), envp.data());
            ::_exit(127);
        }
        ::setpgid(pid_, pid_);
        if (log >= 0) ::close(log);
        ::close(childReads);
        ::close(childWrites);
        write_ = toBrowser[1];
        read_ = fromBrowser[0];
        reader_ = std::thread([this] { readReplies(); });
    }

    ~DevToolsBrowser()
    {
        kill();
        if (write_ >= 0) ::close(write_);
        if (reader_.joinable()) reader_.join();
        if (read_ >= 0) ::close(read_);
    }

    DevToolsBrowser(const DevToolsBrowser&) = delete;
    DevToolsBrowser& operator=(const DevToolsBrowser&) = delete;

    // The result of one command; throws when it fails or gets no answer in time.
    nlohmann::json call(const std::string& method, nlohmann::json params = nlohmann::json::object(),
                        const std::string& session = "", std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        const int id = post(method, std::move(params), session);
        std::unique_lock lock(mutex_);
        if (!arrived_.wait_for(lock, timeout, [&] { return replies_.count(id) > 0 || closed_; }))
            throw std::runtime_error("no answer to " + method);
        if (!replies_.count(id)) throw std::runtime_error("the browser went away during " + method);
        nlohmann::json reply = std::move(replies_[id]);
        replies_.erase(id);
        if (reply.contains("error")) throw std::runtime_error(method + ": " + reply["error"].dump());
        return reply["result"];
    }

    // Sends a command without waiting for its answer (for one that ends the browser).
    int post(const std::string& method, nlohmann::json params = nlohmann::json::object(), const std::string& session = "")
    {
        int id;
        {
            std::lock_guard lock(mutex_);
            id = ++lastID_;
        }
        nlohmann::json message {{"id", id}, {"method", method}, {"params", std::move(params)}};
        if (!session.empty()) message["sessionId"] = session;
        std::string bytes = message.dump();
        bytes.push_back('\0');
        std::lock_guard lock(writeMutex_);
        std::string_view left(bytes);
        while (!left.empty()) {
            const ssize_t count = ::write(write_, left.data(), left.size());
            if (count <= 0) break;
            left.remove_prefix(static_cast<std::size_t>(count));
        }
        return id;
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
        while (!exited_) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                break;
            }
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    // Ends whatever of the browser's own process group is left.
    void kill()
    {
        if (pid_ <= 0) return;
        ::kill(-pid_, SIGKILL);
        if (!exited_) {
            int status = 0;
            ::waitpid(pid_, &status, 0);
            exited_ = true;
        }
    }

    pid_t pid() const { return pid_; }

private:
    void readReplies()
    {
        std::string buffer;
        char chunk[65536];
        for (;;) {
            const ssize_t count = ::read(read_, chunk, sizeof chunk);
            if (count <= 0) break;
            buffer.append(chunk, static_cast<std::size_t>(count));
            for (std::size_t end; (end = buffer.find('\0')) != std::string::npos;) {
                auto message = nlohmann::json::parse(buffer.substr(0, end), nullptr, false);
                buffer.erase(0, end + 1);
                if (message.is_object() && message.contains("id") && message["id"].is_number_integer()) {
                    const int id = message["id"].get<int>();
                    std::lock_guard lock(mutex_);
                    replies_[id] = std::move(message);
                    arrived_.notify_all();
                }
            }
        }
        std::lock_guard lock(mutex_);
        closed_ = true;
        arrived_.notify_all();
    }

    pid_t pid_ = -1;
    bool exited_ = false;
    int write_ = -1;
    int read_ = -1;
    std::thread reader_;
    std::mutex mutex_, writeMutex_;
    std::condition_variable arrived_;
    std::map<int, nlohmann::json> replies_;
    int lastID_ = 0;
    bool closed_ = false;
};

} // namespace zorvane::test_support
