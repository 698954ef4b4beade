// What the bits of LinkError mean, for the tool tip of every window's status
// line: one Russian line per set bit, and for a port that did not open the
// device the COM name resolves to and what to do about it.
#pragma once

#include <cstdint>
#include <string>

namespace kestrel {

// The explanation of `error` for the port `portName` ("COM2"); `portError`
// is the link's own reason for a failed open (LastPortErrorText), shown
// as it is. Empty for 0. Lines end with "\n". Code page 1251.
std::string LinkErrorHint(std::uint16_t error, const std::string& portName,
                          const std::string& portError);

}  // namespace kestrel
