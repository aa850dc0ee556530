#pragma once

#include "process/EumFunction.h"

class SecurityControl;

// Function type 401: the security control's user list.
class CFunction_GetUsrList : public EumFunction {
public:
    static constexpr std::int32_t kType = 401;

    explicit CFunction_GetUsrList(SecurityControl& control);

    // Replaces output with the control's user list; succeeds when it holds a character.
    // A failing control call throws and leaves output and m_bSuccess unchanged.
    void Execute(std::u16string& output) override;
    void Init(std::u16string step_body) override;

private:
    SecurityControl& control_;
};
