#pragma once

#include <stdexcept>
#include <string>

// What the script functions need of the security control: its user list.
class SecurityControl {
public:
    virtual ~SecurityControl() = default;

    // The user list as wide text; empty text means no list. Throws ControlError when the
    // control reports a failure.
    virtual std::u16string GetUselistX() = 0;
};

// A failed call into the security control; what() is the control's own message (UTF-8).
class ControlError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
