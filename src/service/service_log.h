#pragma once

#include <string>

// One of the service's log lines: a format ending in "[%s:%d]", filled with the source name
// and the line's number; some formats take a detail text before them.
struct ServiceLogMessage {
    std::string format; // ANSI text
    int number;
};

struct ServiceLogMessages {
    ServiceLogMessage start;
    ServiceLogMessage initialize_asio;
    ServiceLogMessage listen;
    ServiceLogMessage accept_loop;
    ServiceLogMessage run_loop;
    ServiceLogMessage paused; // detail: the library's error text
    ServiceLogMessage message_received;
    ServiceLogMessage message_handler;
    ServiceLogMessage stopped_listening;
    ServiceLogMessage stop_listening_failed; // detail: the library's error text
    ServiceLogMessage echo_failed;
    ServiceLogMessage opened;
    ServiceLogMessage closed;
    ServiceLogMessage push_failed; // detail: the library's error text
};

// Converted once to the log's ANSI code page.
const ServiceLogMessages& service_log();

// Writes one error-level line.
void log_service_event(const ServiceLogMessage& message);
void log_service_event(const ServiceLogMessage& message, const char* detail);
