#pragma once

#include <cstdint>
#include <string>

// A script function: the unit of work one step of a process script names by number.
class EumFunction {
public:
    virtual ~EumFunction() = default;

    // Runs the function: sets output to its result and sets m_bSuccess.
    virtual void Execute(std::u16string& output) = 0;
    // Hands the function the body of its step before it runs.
    virtual void Init(std::u16string step_body) = 0;

    std::int32_t m_nFunctionType = 0;
    std::u16string m_strFunctionName;
    bool m_bSuccess = false;
};
