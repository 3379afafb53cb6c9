#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace zorvane::testing {

// A plain HTTP/1.0 server on 127.0.0.1 and a free port, run on a thread of the test and stopped
// with it. Each path answers with a fixed body; a body can be cut short after its headers
// announced the full length, as a dropped connection would.
class LoopbackHttpServer {
public:
    struct Response {
        std::string body;
        std::optional<std::size_t> cutAfter = {};
    };

    LoopbackHttpServer();
    ~LoopbackHttpServer();

    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
    void serve(const std::string& path, Response response);
    int requests(const std::string& path) const;

private:
    void run();
    void answer(int client);

    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::map<std::string, Response> responses_;
    std::map<std::string, int> requests_;
    std::thread thread_;
};

} // namespace zorvane::testing
