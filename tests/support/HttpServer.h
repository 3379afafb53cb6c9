#pragma once

// Files over plain HTTP on 127.0.0.1 and a free port (the updater's feed and releases, the
// browser's test page): Python's http.server, stopped by process id.

#include "tests/fakes/TemporaryDirectory.h"
#include "tests/support/Processes.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace zorvane::testing {

class HttpServer {
public:
    HttpServer()
    {
        // The server writes the port it got to the descriptor it is given; its request log goes to stderr.
        std::filesystem::create_directories(folder_ / "site");
        port_ = processes_.startAndReadLine({"python3", "-c",
            "import functools, http.server as h, os, sys\n"
            "server = h.ThreadingHTTPServer(('127.0.0.1', 0), functools.partial(h.SimpleHTTPRequestHandler, directory=sys.argv[2]))\n"
            "os.write(int(sys.argv[1]), b'%d\\n' % server.server_port)\nserver.serve_forever()\n",
            "{fd}", (folder_ / "site").string()}, 20);
        if (port_.empty()) throw std::runtime_error("the HTTP server did not start");
    }

    // From now on `path` (starting with "/"; "/index.html" is also "/") answers with `bytes`.
    void put(const std::string& path, const std::string& bytes)
    {
        std::ofstream(folder_ / "upload", std::ios::binary) << bytes;
        std::filesystem::rename(folder_ / "upload", folder_.path() / ("site" + path)); // never half a file
    }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + port_ + path; }
    // How many requests for `path` the server has answered so far.
    int requests(const std::string& path) const
    {
        std::stringstream log;
        for (const auto& file : std::filesystem::directory_iterator(processes_.logFolder())) log << std::ifstream(file.path()).rdbuf();
        const std::string text = log.str(), request = "\"GET " + path + " HTTP/";
        int count = 0;
        for (auto at = text.find(request); at != std::string::npos; at = text.find(request, at + 1)) ++count;
        return count;
    }

private:
    fakes::TemporaryDirectory folder_;
    Processes processes_ {folder_ / "logs"};
    std::string port_;
};

} // namespace zorvane::testing
