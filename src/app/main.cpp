#include "control/CDTarskCtrlControl.h"
#include "service/websocket_server.h"

#include <thread>

int main() {
    TheSecurityControl().CreateControl();
    static websocket_server service;
    std::thread service_thread([] { service.start(); });
    service_thread.join();
    return 0;
}
