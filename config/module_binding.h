// Binding of the vehicle module VORTA.so of the selected ECU folder: loaded
// with dlopen at start-up and again after every catalogue choice, its four
// exports resolved by their exact names. When it fails the program ends: the
// caller writes BindOutcome::StderrLine to standard error and quits with
// kConfigQuitStatus; nothing is called through the entry points afterwards.
#pragma once

#include <string>

#include "module/vorta.h"

namespace kestrel {

inline constexpr const char* kModuleFileName = "VORTA.so";

// The bound module. All entry points are called from the user-interface
// thread only.
struct VehicleModuleRecord {
  void* ModuleHandle = nullptr;  // dlopen handle; nullptr when not bound
  vorta::PidValProc PIDVAL = nullptr;
  vorta::DtcErrorProc DTCError = nullptr;
  vorta::PanelProc Panel = nullptr;
  vorta::ActTestProc ACTTESTProc = nullptr;

  bool Bound() const { return ModuleHandle != nullptr && ACTTESTProc != nullptr; }
};
extern VehicleModuleRecord VehicleModule;

struct BindOutcome {
  bool Ok = true;
  // On failure: the module file or the export name that is missing.
  std::string Missing;
  // On failure: the line for standard error (UTF-8, no line end), naming the
  // file or export, e.g. "kestrel: ECU/TOYOTA/VORTA.so: cannot load module: ...".
  std::string StderrLine;
};

// The module path of the current EcuFolder: the folder, a separator and
// "VORTA.so", backslashes read as '/'.
std::string ModulePath();

// Loads ModulePath() and resolves "PIDVAL", "DTCError", "Panel",
// "ACTTESTProc" in this order (each cleared before its look-up). Stops at the
// first failure.
BindOutcome Bind();
// The same from an explicit path (tests, the command-line tool).
BindOutcome BindFrom(const std::string& path);

// Frees the current module (when one is loaded), then binds.
BindOutcome Rebind();

// Frees the current module and clears every entry point.
void Unbind();

}  // namespace kestrel
