// The exit statuses of kestrel-cli.
#pragma once

namespace kestrel::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitConfig = 2;         // usage or configuration error
inline constexpr int kExitLink = 3;           // link error
inline constexpr int kExitExport = 4;         // an export or recording file could not be written
inline constexpr int kExitInterrupted = 130;  // Ctrl-C or SIGTERM, at any point

}  // namespace kestrel::cli
