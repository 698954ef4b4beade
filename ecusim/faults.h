// Faults the simulated adapter and ECU can be told to show.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrel::ecusim {

struct Faults {
  bool no_echo = false;      // the adapter does not echo the tester's bytes
  bool silent = false;       // the ECU never answers (not even the initialisation)
  double crc_rate = 0;       // share of ECU frames sent with a wrong checksum
  double noise_rate = 0;     // share of ECU frames preceded by 1..3 noise bytes
  double split_ms = 0;       // > 0: each ECU frame pauses this long in its middle
  double slow_ms = 0;        // > 0: answers come this long after a request instead of P2
  int stop_after = -1;       // >= 0: the ECU stops answering after this many answers
  double negative_rate = 0;  // share of requests answered 7F <sid> 22
  int vanish_after = -1;     // >= 0: the adapter disappears after this many answers
  bool wrong_keys = false;   // the ECU sends other key bytes than its scenario's

  bool Any() const;
  std::string Describe() const;  // "crc:0.1 slow:150", for logs
};

// Adds one fault given as "NAME" or "NAME:VALUE" (no-echo, silent, crc[:RATE],
// noise[:RATE], split[:MS], slow[:MS], stop-after:N, negative[:RATE],
// vanish[:N], wrong-keys). Returns an empty string or the reason it was refused.
std::string AddFault(Faults& f, std::string_view given);

}  // namespace kestrel::ecusim
