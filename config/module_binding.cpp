#include "config/module_binding.h"

#include <dlfcn.h>

#include "common/cp1251.h"
#include "common/disk_path.h"
#include "config/config_globals.h"

namespace kestrel {

VehicleModuleRecord VehicleModule;

namespace {

BindOutcome Failure(std::string missing, std::string line) {
  BindOutcome out;
  out.Ok = false;
  out.Missing = std::move(missing);
  out.StderrLine = "kestrel: " + std::move(line);
  return out;
}

// Looks one export up; the entry point is cleared first.
template <typename Proc>
bool Resolve(void* handle, const char* name, Proc& proc) {
  proc = nullptr;
  dlerror();
  void* address = dlsym(handle, name);
  if (address == nullptr) return false;
  proc = reinterpret_cast<Proc>(address);
  return true;
}

}  // namespace

std::string ModulePath() {
  return EcuFilePath(kModuleFileName);
}

BindOutcome BindFrom(const std::string& path) {
  VehicleModule = VehicleModuleRecord{};
  void* handle = dlopen(ToDiskPath(path).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    const std::string shown = cp1251::ToUtf8(path);
    return Failure(path, shown + ": cannot load the vehicle module" +
                             (why ? std::string(" (") + why + ")" : std::string()));
  }
  VehicleModule.ModuleHandle = handle;
  const std::string shown = cp1251::ToUtf8(path);
  if (!Resolve(handle, "PIDVAL", VehicleModule.PIDVAL)) {
    return Failure("PIDVAL", shown + ": export PIDVAL not found");
  }
  if (!Resolve(handle, "DTCError", VehicleModule.DTCError)) {
    return Failure("DTCError", shown + ": export DTCError not found");
  }
  if (!Resolve(handle, "Panel", VehicleModule.Panel)) {
    return Failure("Panel", shown + ": export Panel not found");
  }
  if (!Resolve(handle, "ACTTESTProc", VehicleModule.ACTTESTProc)) {
    return Failure("ACTTESTProc", shown + ": export ACTTESTProc not found");
  }
  return {};
}

BindOutcome Bind() {
  return BindFrom(ModulePath());
}

void Unbind() {
  if (VehicleModule.ModuleHandle != nullptr) dlclose(VehicleModule.ModuleHandle);
  VehicleModule = VehicleModuleRecord{};
}

BindOutcome Rebind() {
  if (VehicleModule.ModuleHandle != nullptr && dlclose(VehicleModule.ModuleHandle) != 0) {
    const char* why = dlerror();
    VehicleModule = VehicleModuleRecord{};
    return Failure(kModuleFileName, std::string("cannot free the vehicle module") +
                                        (why ? std::string(" (") + why + ")" : std::string()));
  }
  VehicleModule = VehicleModuleRecord{};
  return Bind();
}

}  // namespace kestrel
