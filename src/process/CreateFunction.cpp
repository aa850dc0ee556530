#include "process/CreateFunction.h"

#include "process/CFunction_GetUsrList.h"
#include "process/ScriptNumber.h"
#include "process/ScriptValue.h"

std::unique_ptr<EumFunction> CreateFunction(std::u16string step_body, SecurityControl& control) {
    if (ScriptNumber(GetBracketValue(u"FunctionType", step_body)) != CFunction_GetUsrList::kType)
        return nullptr;
    auto function = std::make_unique<CFunction_GetUsrList>(control);
    function->Init(std::move(step_body));
    return function;
}
