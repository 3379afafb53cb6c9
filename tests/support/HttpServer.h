#pragma once

// Files over plain HTTP on 127.0.0.1 and a free port (the updater's feed and releases, the
// browser's test page, speech models): Python's http.server with ranges from an offset to the end,
// as a resumed download asks, stopped by process id.

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
            "import functools, http.server as h, os, re, shutil, sys, time\n"
            "class Handler(h.SimpleHTTPRequestHandler):\n"
            "    def send_head(self):\n"
            "        path, wanted = self.translate_path(self.path), re.fullmatch(r'bytes=(\\d+)-', self.headers.get('Range', ''))\n"
            "        if not wanted or not os.path.isfile(path): return super().send_head()\n"
            "        source, start = open(path, 'rb'), int(wanted[1])\n"
            "        size = os.fstat(source.fileno()).st_size\n"
            "        source.seek(start)\n"
            "        self.send_response(206)\n"
            "        self.send_header('Content-Range', 'bytes %d-%d/%d' % (start, size - 1, size))\n"
            "        self.send_header('Content-Length', str(size - start))\n"
            "        self.end_headers()\n"
            "        return source\n"
            "    def copyfile(self, source, out):\n"
            "        hold = os.path.join(sys.argv[3], 'hold')\n"
            "        if os.path.exists(hold):\n"
            "            out.write(source.read(int(open(hold).read())))\n"
            "            out.flush()\n"
            "            while os.path.exists(hold): time.sleep(0.02)\n"
            "        shutil.copyfileobj(source, out)\n"
            "server = h.ThreadingHTTPServer(('127.0.0.1', 0), functools.partial(Handler, directory=sys.argv[2]))\n"
            "os.write(int(sys.argv[1]), b'%d\\n' % server.server_port)\nserver.serve_forever()\n",
            "{fd}", (folder_ / "site").string(), folder_.path().string()}, 20);
        if (port_.empty()) throw std::runtime_error("the HTTP server did not start");
    }

    // From now on `path` (starting with "/"; "/index.html" is also "/") answers with `bytes`.
    void put(const std::string& path, const std::string& bytes)
    {
        std::ofstream(folder_ / "upload", std::ios::binary) << bytes;
        std::filesystem::rename(folder_ / "upload", folder_.path() / ("site" + path)); // never half a file
    }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + port_ + path; }
    // Until release(), every answer stops after `bytes` bytes and waits (a download caught mid-way).
    void hold(std::size_t bytes)
    {
        std::ofstream(folder_ / "holding") << bytes;
        std::filesystem::rename(folder_ / "holding", folder_ / "hold");
    }
    void release() { std::filesystem::remove(folder_ / "hold"); }
    // How many requests for `path` the server has answered so far (with `status` only, when given).
    int requests(const std::string& path, const std::string& status = "") const
    {
        std::stringstream log;
        for (const auto& file : std::filesystem::directory_iterator(processes_.logFolder())) log << std::ifstream(file.path()).rdbuf();
        const std::string text = log.str(), request = "\"GET " + path + " HTTP/";
        int count = 0;
        for (auto at = text.find(request); at != std::string::npos; at = text.find(request, at + 1))
            count += status.empty() || text.compare(text.find('"', at + 1) + 1, status.size() + 1, " " + status) == 0;
        return count;
    }

private:
    fakes::TemporaryDirectory folder_;
    Processes processes_ {folder_ / "logs"};
    std::string port_;
};

} // namespace zorvane::testing
