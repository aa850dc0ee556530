#include "file_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::string content_type(const std::string& path) {
    const std::pair<const char*, const char*> types[] = {
        {".html", "text/html; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
    };
    for (const auto& [extension, type] : types) {
        std::string ending = extension;
        if (path.size() >= ending.size() &&
            path.compare(path.size() - ending.size(), ending.size(), ending) == 0)
            return type;
    }
    return "application/octet-stream";
}

std::string response(const std::string& status, const std::string& type, const std::string& body) {
    return "HTTP/1.1 " + status + "\r\nContent-Type: " + type +
           "\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + body;
}

void send_all(int socket, const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        ssize_t count = send(socket, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (count <= 0)
            return;
        sent += static_cast<std::size_t>(count);
    }
}

} // namespace

FileServer::FileServer(std::string root) : root_(std::move(root)) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener_, 16) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        pipe2(wake_, O_CLOEXEC) != 0) {
        if (listener_ >= 0)
            close(listener_);
        throw std::runtime_error("cannot serve files on loopback");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

FileServer::~FileServer() {
    close(wake_[1]);
    thread_.join();
    close(wake_[0]);
    close(listener_);
}

std::string FileServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

// Every connection is polled, not read in turn: a browser may open one and send nothing on it.
void FileServer::serve() {
    std::map<int, std::string> requests;
    for (;;) {
        std::vector<pollfd> fds = {{wake_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
        for (const auto& entry : requests)
            fds.push_back({entry.first, POLLIN, 0});
        if (poll(fds.data(), fds.size(), -1) < 0 || fds[0].revents != 0)
            break;
        if (fds[1].revents & POLLIN) {
            int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0)
                requests[client];
        }
        for (std::size_t i = 2; i < fds.size(); ++i) {
            if (fds[i].revents == 0)
                continue;
            std::string& request = requests[fds[i].fd];
            char buffer[4096];
            ssize_t count = recv(fds[i].fd, buffer, sizeof buffer, 0);
            if (count > 0)
                request.append(buffer, static_cast<std::size_t>(count));
            if (count > 0 && request.find("\r\n\r\n") == std::string::npos)
                continue;
            if (count > 0)
                send_all(fds[i].fd, respond(request));
            close(fds[i].fd);
            requests.erase(fds[i].fd);
        }
    }
    for (const auto& entry : requests)
        close(entry.first);
}

std::string FileServer::respond(const std::string& request) const {
    std::istringstream line(request.substr(0, request.find("\r\n")));
    std::string method, target;
    line >> method >> target;
    std::string path = target.substr(0, target.find_first_of("?#"));
    if (method != "GET")
        return response("405 Method Not Allowed", "text/plain", "GET only\n");
    struct stat status;
    std::string file = root_ + path;
    if (path.empty() || path[0] != '/' || path.find("..") != std::string::npos ||
        stat(file.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return response("404 Not Found", "text/plain", "not found\n");
    std::ifstream stream(file, std::ios::binary);
    std::ostringstream body;
    body << stream.rdbuf();
    return response("200 OK", content_type(path), body.str());
}
