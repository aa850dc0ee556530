#pragma once

#include <string_view>

// Device-change event types, as the main window's handler receives them.
constexpr unsigned DBT_DEVNODES_CHANGED = 0x0007;
constexpr unsigned DBT_DEVICEARRIVAL = 0x8000;
constexpr unsigned DBT_DEVICEREMOVECOMPLETE = 0x8004;

// The event type of a device manager action: "add" is an arrival, "remove" a completed
// removal; any other action only says that devices changed.
unsigned DeviceEventType(std::string_view action);
