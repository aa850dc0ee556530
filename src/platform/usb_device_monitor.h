#pragma once

#include <memory>
#include <string>

struct udev;
struct udev_monitor;

namespace platform {

// Reports USB devices that are attached or removed, as the device manager announces them.
class UsbDeviceMonitor {
public:
    // Null when the system offers no such reports.
    static std::unique_ptr<UsbDeviceMonitor> open();
    ~UsbDeviceMonitor();
    UsbDeviceMonitor(const UsbDeviceMonitor&) = delete;
    UsbDeviceMonitor& operator=(const UsbDeviceMonitor&) = delete;

    // Readable when a report waits.
    int fd() const;
    // The action of the next report ("add", "remove", "bind", ...); empty when none waits.
    std::string receive_action();

private:
    UsbDeviceMonitor(struct udev* context, udev_monitor* monitor)
        : context_(context), monitor_(monitor) {}

    struct udev* context_;
    udev_monitor* monitor_;
};

} // namespace platform
