#pragma once

#include <string>
#include <string_view>

namespace platform {

// The path of the control module registered for a control class id, or empty when none is.
// Here the registration is the environment variable QUILLGATE_CONTROL_MODULE.
std::string registered_control_module(std::string_view class_id);

} // namespace platform
