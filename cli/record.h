// kestrel-cli record: the graphs window's recording without a display. The
// channels are chosen on the command line, polled as the graphs window polls
// them, and the responses recorded into a "*.rtd" file that the window plays
// back, the spreadsheet export reads and kestrel-ecusim --replay serves.
#pragma once

#include <array>
#include <atomic>
#include <string>

#include "cli/cli_options.h"
#include "config/parameter_lists.h"

namespace kestrel::cli {

// The selector items (0 "Нет", k live row k - 1) of the eight channels from
// a comma-separated list: a code as "live" prints it ("2105"), optionally
// with "/" and the row's selector ("2101/08") to pick among the rows of one
// code, or "-" for none; channels not listed are "Нет". An empty list takes
// the first eight rows. False with a UTF-8 message for an item that names no
// row or more than eight items.
bool ChannelItems(const std::string& list, const ParameterTable& rows,
                  std::array<int, kGraphChannels>& items, std::string& error);

// Runs the command after the configuration is loaded and the module bound.
// Returns the exit status: 0, 2 (bad channels), 3 (link error; what was
// recorded stays), 4 (the file could not be created).
int Record(const Options& options, const std::atomic<bool>& interrupted);

}  // namespace kestrel::cli
