#include "platform/usb_device_monitor.h"

#include <libudev.h>

namespace platform {

std::unique_ptr<UsbDeviceMonitor> UsbDeviceMonitor::open() {
    struct udev* context = udev_new();
    if (!context)
        return nullptr;
    udev_monitor* monitor = udev_monitor_new_from_netlink(context, "udev");
    if (monitor &&
        udev_monitor_filter_add_match_subsystem_devtype(monitor, "usb", "usb_device") >= 0 &&
        udev_monitor_enable_receiving(monitor) >= 0)
        return std::unique_ptr<UsbDeviceMonitor>(new UsbDeviceMonitor(context, monitor));
    if (monitor)
        udev_monitor_unref(monitor);
    udev_unref(context);
    return nullptr;
}

UsbDeviceMonitor::~UsbDeviceMonitor() {
    udev_monitor_unref(monitor_);
    udev_unref(context_);
}

int UsbDeviceMonitor::fd() const {
    return udev_monitor_get_fd(monitor_);
}

std::string UsbDeviceMonitor::receive_action() {
    udev_device* device = udev_monitor_receive_device(monitor_);
    if (!device)
        return {};
    const char* action = udev_device_get_action(device);
    std::string result = action ? action : "";
    udev_device_unref(device);
    return result;
}

} // namespace platform
