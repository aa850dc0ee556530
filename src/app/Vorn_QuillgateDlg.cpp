#include "app/Vorn_QuillgateDlg.h"

#include "app/DeviceEventType.h"
#include "control/CDTarskCtrlControl.h"
#include "log/CLogger.h"
#include "platform/instance_lock.h"
#include "platform/temp_directory.h"
#include "platform/thread_exit.h"
#include "platform/usb_device_monitor.h"
#include "process/ResultText.h"
#include "process/RunProcess.h"
#include "service/websocket_server.h"

#include <cstdio>

using namespace platform;

namespace {

const std::u16string kDeviceChangeScript =
    u"ProcessEntity-1{FunctionType[401]TrueNext[0]FalseNext[0]}ProcessCallBackName{_1}"
    u"ProcessNum{3}";

constexpr const char* kInstanceLockFile = "quillgate.lock";

} // namespace

CVorn_QuillgateDlg::CVorn_QuillgateDlg(websocket_server& service) : m_service(service) {}

CVorn_QuillgateDlg::~CVorn_QuillgateDlg() {
    EndService();
}

// OK or Cancel ends the program, the service included.
std::uintptr_t CVorn_QuillgateDlg::DoModal() {
    OnInitDialog();
    m_loop.run([this](const Message& message) { return Dispatch(message); });
    EndService();
    return m_result;
}

void CVorn_QuillgateDlg::EndService() {
    if (m_serviceThread.joinable()) {
        m_service.shut_down();
        m_serviceThread.join();
    }
}

bool CVorn_QuillgateDlg::OnInitDialog() {
    RegisterUsbDeviceNotification();
    TheSecurityControl().CreateControl();
    m_instanceLock = std::make_unique<InstanceLock>(temp_directory() + kInstanceLockFile);
    if (m_instanceLock->held_elsewhere()) {
        std::fputs("quillgate: another instance is running; this one starts no service\n", stderr);
        return true;
    }
    CLogger::GetInstance()->Info("http process is start.[%s:%d]", "Vorn_QuillgateDlg", 278);
    m_serviceThread = std::thread([&service = m_service] { service.start(); });
    return true;
}

// A failure is silent: device changes are then not seen.
int CVorn_QuillgateDlg::RegisterUsbDeviceNotification() {
    m_deviceMonitor = UsbDeviceMonitor::open();
    if (!m_deviceMonitor)
        return -1;
    m_loop.watch(m_deviceMonitor->fd(), [this] { OnUsbDeviceReport(); });
    return 0;
}

void CVorn_QuillgateDlg::OnUsbDeviceReport() {
    std::string action = m_deviceMonitor->receive_action();
    if (!action.empty())
        OnDeviceChange(DeviceEventType(action), 0);
}

bool CVorn_QuillgateDlg::OnDeviceChange(unsigned event_type, std::uintptr_t) {
    if (event_type == DBT_DEVICEARRIVAL || event_type == DBT_DEVICEREMOVECOMPLETE) {
        std::u16string result;
        RunProcess(kDeviceChangeScript, result);
        m_service.send_to_all(ResultToUtf8(result));
    }
    return true;
}

// Only this thread ends: the service runs on alone, still the running instance.
void CVorn_QuillgateDlg::OnClose() {
    if (m_serviceThread.joinable())
        m_serviceThread.detach();
    m_instanceLock.release();
    end_current_thread();
}

bool CVorn_QuillgateDlg::Dispatch(const Message& message) {
    switch (message.id) {
    case WM_DEVICECHANGE:
        OnDeviceChange(static_cast<unsigned>(message.wparam), 0);
        return true;
    case WM_CLOSE:
        OnClose();
    case WM_COMMAND:
        if (message.wparam != IDOK && message.wparam != IDCANCEL)
            return true;
        m_result = message.wparam;
        return false;
    default:
        return true;
    }
}
