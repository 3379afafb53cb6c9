#include "LoopbackHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace zorvane::testing {

LoopbackHttpServer::LoopbackHttpServer()
{
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::listen(listener_, 16) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("loopback server");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { run(); });
}

LoopbackHttpServer::~LoopbackHttpServer()
{
    stopping_ = true;
    thread_.join();
    ::close(listener_);
}

void LoopbackHttpServer::serve(const std::string& path, Response response)
{
    std::lock_guard lock(mutex_);
    responses_[path] = std::move(response);
}

int LoopbackHttpServer::requests(const std::string& path) const
{
    std::lock_guard lock(mutex_);
    const auto found = requests_.find(path);
    return found == requests_.end() ? 0 : found->second;
}

void LoopbackHttpServer::run()
{
    while (!stopping_) {
        pollfd waiting{listener_, POLLIN, 0};
        if (::poll(&waiting, 1, 50) <= 0) continue;
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        answer(client);
        ::close(client);
    }
}

void LoopbackHttpServer::answer(int client)
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
    std::string reply;
    if (!response) {
        reply = "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n";
    } else {
        reply = "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(response->body.size()) + "\r\n\r\n";
        reply += response->body.substr(0, response->cutAfter.value_or(response->body.size()));
    }
    for (std::size_t sent = 0; sent < reply.size();) {
        const ssize_t n = ::send(client, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;
        sent += static_cast<std::size_t>(n);
    }
}

} // namespace zorvane::testing
