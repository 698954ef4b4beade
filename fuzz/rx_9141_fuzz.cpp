// The receiver's ISO 9141 framing on any bytes from the port (see
// receiver_fuzz.cpp for the properties).
#include "fuzz/fuzz_support.h"
#include "fuzz/receiver_fuzz.h"
#include "link/link_globals.h"

KESTREL_FUZZ_IN_SCRATCH_FOLDER("rx-9141")

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return kestrel::fuzz::FuzzReceiver(kestrel::kProto9141, data, size);
}
