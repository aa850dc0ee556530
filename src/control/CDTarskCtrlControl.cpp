#include "control/CDTarskCtrlControl.h"

#include "platform/control_registration.h"
#include "platform/dynamic_library.h"

#include <quillgate/control_module.h>

namespace {

using CreateFn = decltype(&quillgate_control_create);
using GetUselistFn = decltype(&quillgate_control_get_uselist);
using FreeFn = decltype(&quillgate_control_free);

template <typename Fn> Fn Resolve(const platform::DynamicLibrary& library, const char* name) {
    return reinterpret_cast<Fn>(library.symbol(name));
}

// Hands a text the module gave out back to it, however the caller leaves.
struct ModuleFree {
    FreeFn free;
    void operator()(const void* p) const { free(p); }
};
using ModuleText = std::unique_ptr<const void, ModuleFree>;

std::string FailureMessage(int code, const char* error, FreeFn free) {
    if (!error)
        return "the security control failed (code " + std::to_string(code) + ")";
    ModuleText owned(error, ModuleFree{free});
    return error;
}

} // namespace

struct CDTarskCtrlControl::Module {
    std::unique_ptr<platform::DynamicLibrary> library;
    GetUselistFn get_uselist;
    FreeFn free;
};

CDTarskCtrlControl::CDTarskCtrlControl() = default;
CDTarskCtrlControl::~CDTarskCtrlControl() = default;

bool CDTarskCtrlControl::CreateControl() {
    return CreateFromModule(platform::registered_control_module(kClassId));
}

bool CDTarskCtrlControl::CreateFromModule(const std::string& module_path) {
    // Held throughout: the module may be the one already in use, and its calls never overlap.
    std::lock_guard<std::mutex> lock(mutex_);
    module_.reset();
    if (module_path.empty())
        return false;
    std::string error;
    auto library = platform::DynamicLibrary::load(module_path, error);
    if (!library)
        return false;
    auto create = Resolve<CreateFn>(*library, "quillgate_control_create");
    auto get_uselist = Resolve<GetUselistFn>(*library, "quillgate_control_get_uselist");
    auto free = Resolve<FreeFn>(*library, "quillgate_control_free");
    if (!create || !get_uselist || !free || create() != 0)
        return false;
    module_.reset(new Module{std::move(library), get_uselist, free});
    return true;
}

std::u16string CDTarskCtrlControl::GetUselistX() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!module_)
        return {};
    const std::uint16_t* text = nullptr;
    std::size_t length = 0;
    const char* error = nullptr;
    const int code = module_->get_uselist(&text, &length, &error);
    if (code != 0)
        throw ControlError(FailureMessage(code, error, module_->free));
    ModuleText owned(text, ModuleFree{module_->free});
    return std::u16string(text, text + length);
}

CDTarskCtrlControl& TheSecurityControl() {
    static CDTarskCtrlControl control;
    return control;
}
