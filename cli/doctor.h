// kestrel-cli doctor [--port COMn|DEVICE]: the adapter and the link checked
// step by step, each step printed in Russian (UTF-8) with its result and, when
// it failed, what to do: the configuration, the device, the permission, the
// exclusive open, the line settings, the USB latency timer, the adapter's
// echo, the configuration's initialisation and its first request.
#pragma once

#include <atomic>

#include "cli/cli_options.h"

namespace kestrel::cli {

// Runs the check in the current working directory. Returns 0 when every
// step passed, 2 when the configuration could not be loaded, 3 when another
// step failed (or the check was interrupted).
int RunDoctor(const Options& options, const std::atomic<bool>* interrupted);

}  // namespace kestrel::cli
