#pragma once

#include "control/SecurityControl.h"

#include <memory>
#include <mutex>
#include <string>

namespace platform {
class DynamicLibrary;
}

// The security control, reached through the control module registered for its class id.
// Until a creation succeeds every call returns empty text.
// Thread Safety: shared objects safe; calls into the module are serialised.
class CDTarskCtrlControl : public SecurityControl {
public:
    static constexpr const char* kClassId = "{990AC2E1-4439-436A-823A-F96855361CB3}";

    CDTarskCtrlControl();
    ~CDTarskCtrlControl() override;

    // Loads the registered module and creates the control. Returns whether it succeeded.
    bool CreateControl();
    // Loads the module at this path and creates the control. Either way it replaces the
    // control created before; after a failure there is none.
    bool CreateFromModule(const std::string& module_path);

    std::u16string GetUselistX() override;

private:
    struct Module;
    std::mutex mutex_;
    std::unique_ptr<Module> module_;
};

// The process-wide security control.
CDTarskCtrlControl& TheSecurityControl();
