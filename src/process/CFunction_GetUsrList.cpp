#include "process/CFunction_GetUsrList.h"

#include "control/SecurityControl.h"

CFunction_GetUsrList::CFunction_GetUsrList(SecurityControl& control) : control_(control) {
    m_nFunctionType = kType;
    m_strFunctionName = u"GetUselistX";
}

void CFunction_GetUsrList::Execute(std::u16string& output) {
    output = control_.GetUselistX();
    // A NUL counts as a character here.
    m_bSuccess = !output.empty();
}

void CFunction_GetUsrList::Init(std::u16string) {}
