#pragma once

#include "platform/message_loop.h"

#include <cstdint>
#include <memory>
#include <thread>

class websocket_server;
namespace platform {
class InstanceLock;
class UsbDeviceMonitor;
} // namespace platform

// The hidden main window: starts the service, then runs the main thread's message loop, which
// pushes the user list to every client when a USB device is attached or removed.
// Thread Safety: PostMessage from any thread; everything else on the thread of DoModal.
class CVorn_QuillgateDlg {
public:
    explicit CVorn_QuillgateDlg(websocket_server& service);
    ~CVorn_QuillgateDlg();
    CVorn_QuillgateDlg(const CVorn_QuillgateDlg&) = delete;
    CVorn_QuillgateDlg& operator=(const CVorn_QuillgateDlg&) = delete;

    // Initialises the window and runs its message loop until the OK or Cancel command, then
    // ends the service; returns which command. A close request (WM_CLOSE) ends the calling
    // thread instead and leaves the service running.
    std::uintptr_t DoModal();

    void PostMessage(platform::Message message) { m_loop.post(message); }

    // Runs the device-change script and pushes its result to every client on an arrival or a
    // completed removal; ignores every other event type.
    bool OnDeviceChange(unsigned event_type, std::uintptr_t event_data);

private:
    bool OnInitDialog();
    int RegisterUsbDeviceNotification();
    void OnUsbDeviceReport();
    [[noreturn]] void OnClose();
    bool Dispatch(const platform::Message& message);
    void EndService();

    websocket_server& m_service;
    platform::MessageLoop m_loop;
    std::unique_ptr<platform::UsbDeviceMonitor> m_deviceMonitor;
    std::unique_ptr<platform::InstanceLock> m_instanceLock;
    std::thread m_serviceThread;
    std::uintptr_t m_result = platform::IDCANCEL;
};
