#include "app/DeviceEventType.h"

unsigned DeviceEventType(std::string_view action) {
    if (action == "add")
        return DBT_DEVICEARRIVAL;
    if (action == "remove")
        return DBT_DEVICEREMOVECOMPLETE;
    return DBT_DEVNODES_CHANGED;
}
