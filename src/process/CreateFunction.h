#pragma once

#include "process/EumFunction.h"

#include <memory>
#include <string>

class SecurityControl;

// The script function named by the step body's "FunctionType[...]", initialised with the
// body, or null when the body names no known function.
std::unique_ptr<EumFunction> CreateFunction(std::u16string step_body, SecurityControl& control);
