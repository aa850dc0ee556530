#include "app/Vorn_Quillgate.h"

#include "app/Vorn_QuillgateDlg.h"
#include "platform/open_file_limit.h"
#include "service/websocket_server.h"

bool CVorn_QuillgateApp::InitInstance() {
    platform::raise_open_file_limit();
    CVorn_QuillgateDlg dialog(TheService());
    dialog.DoModal();
    return false;
}

websocket_server& TheService() {
    static websocket_server service;
    return service;
}
