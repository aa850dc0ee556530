// The registry of open connections: filled by the open and close handlers, walked by the push
// and the shut-down. Everything here runs on the service thread.

#include "service/service_log.h"
#include "service/websocket_endpoint.h"

#include <algorithm>

namespace {

bool same_connection(const connection_metadata::handle& a, const connection_metadata::handle& b) {
    return !a.owner_before(b) && !b.owner_before(a);
}

std::string connection_id(server* endpoint, const connection_metadata::handle& hdl) {
    return endpoint->get_con_from_hdl(hdl)->get_remote_endpoint();
}

// Each close gets an error code of its own: the library skips its work when handed one
// that already holds an error. A connection already closing needs nothing more.
void close_going_away(server* endpoint, const connection_metadata::handle& hdl) {
    websocketpp::lib::error_code ec;
    endpoint->close(hdl, websocketpp::close::status::going_away, "", ec);
}

} // namespace

// A connection whose handshake ends after the registry was closed at shut-down is closed
// the same way, so that it does not keep the ending service waiting.
void on_open(websocket_server::endpoint* endpoint, websocket_server* service,
             connection_metadata::handle hdl) {
    log_service_event(service_log().opened);
    if (service->m_closing) {
        close_going_away(endpoint, hdl);
        return;
    }
    std::string id = connection_id(endpoint, hdl);
    auto& registry = service->m_connections;
    auto entry = registry.find(id);
    if (entry != registry.end())
        entry->second->set_hdl(hdl); // same id ("Unknown"): the newer connection takes it
    else
        registry.emplace(id, std::make_shared<connection_metadata>(hdl, id));
}

// Removes the entry that holds this connection. The id alone is not enough: a connection that
// dropped abruptly reads as "Unknown" by now, and an entry of another connection may share
// its id.
void on_close(websocket_server::endpoint* endpoint, websocket_server* service,
              connection_metadata::handle hdl) {
    log_service_event(service_log().closed);
    std::string id = connection_id(endpoint, hdl);
    auto& registry = service->m_connections;
    auto holds_this = [&](const auto& entry) {
        return same_connection(entry.second->get_hdl(), hdl);
    };
    auto entry = registry.find(id);
    if (entry == registry.end() || !holds_this(*entry))
        entry = std::find_if(registry.begin(), registry.end(), holds_this);
    if (entry != registry.end())
        registry.erase(entry);
}

void websocket_server::push_to_all(const std::string& text) {
    for (const auto& [id, metadata] : m_connections) {
        try {
            m_server->send(metadata->get_hdl(), text, websocketpp::frame::opcode::text);
        } catch (const websocketpp::exception& e) {
            log_service_event(service_log().push_failed, e.what());
        }
    }
}

void websocket_server::close_all() {
    for (const auto& [id, metadata] : m_connections)
        close_going_away(m_server.get(), metadata->get_hdl());
    m_connections.clear();
}
