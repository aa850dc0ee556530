#pragma once

#include <cstdint>
#include <string>
#include <thread>

// Serves the files below a folder over HTTP on 127.0.0.1, on a free port, from a thread of its
// own: enough for a browser to load a page and its modules. GET only, one request a connection.
// Thread Safety: construct, port() and destroy on one thread.
class FileServer {
public:
    explicit FileServer(std::string root);
    // Stops serving and joins the thread.
    ~FileServer();
    FileServer(const FileServer&) = delete;
    FileServer& operator=(const FileServer&) = delete;

    std::uint16_t port() const { return port_; }
    // The address of a path below the root, e.g. url("/examples/index.html").
    std::string url(const std::string& path) const;

private:
    void serve();
    std::string respond(const std::string& request) const;

    std::string root_;
    int listener_ = -1;
    int wake_[2] = {-1, -1};
    std::uint16_t port_ = 0;
    std::thread thread_;
};
