#pragma once

class websocket_server;

// The application: runs the hidden main window for the life of the program.
class CVorn_QuillgateApp {
public:
    // Returns false once the main window has ended: the program then ends.
    bool InitInstance();
};

// The process-wide WebSocket service on port 9656.
websocket_server& TheService();
