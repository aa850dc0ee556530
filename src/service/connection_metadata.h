#pragma once

#include <memory>
#include <string>

// One registered connection: the id it was registered under and the handle of the connection
// that owns the entry now.
class connection_metadata {
public:
    using handle = std::weak_ptr<void>; // the WebSocket library's connection handle

    connection_metadata(handle hdl, std::string id) : id(std::move(id)), hdl(std::move(hdl)) {}

    handle get_hdl() const { return hdl; }
    void set_hdl(handle new_hdl) { hdl = std::move(new_hdl); }

    const std::string id; // the peer's "[address]:port", or "Unknown"

private:
    handle hdl;
};
