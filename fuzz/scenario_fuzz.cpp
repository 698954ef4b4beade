// The simulated ECU's scenario files.
//
// Input: the scenario text.
//
// Properties: text that is refused gets a message that names the source and
// the line; text that is accepted makes an ECU that answers every service
// it knows at any time of its drive, each answer fitting one frame.
#include <cstdint>
#include <string>
#include <vector>

#include "ecusim/engine.h"
#include "ecusim/scenario.h"
#include "fuzz/fuzz_support.h"

namespace {

using namespace kestrel::ecusim;

// Requests of every service the simulated ECU answers.
const Bytes kRequests[] = {
    {0x01, 0x00},
    {0x01, 0x01},
    {0x01, 0x05},
    {0x01, 0x0C},
    {0x01, 0x0D},
    {0x01, 0x20},
    {0x02, 0x02, 0x00},
    {0x02, 0x0C, 0x01},
    {0x03},
    {0x07},
    {0x09, 0x00},
    {0x09, 0x02},
    {0x09, 0x04},
    {0x10, 0x81},
    {0x10, 0x85},
    {0x13},
    {0x18, 0x00, 0xFF, 0x00},
    {0x21, 0x01},
    {0x21, 0x0C},
    {0x21, 0xD3},
    {0x21, 0xE1},
    {0x22, 0x01, 0xA2},
    {0x30, 0x01, 0x07, 0x80},
    {0x30, 0xE1, 0x07, 0x80, 0x01},
    {0x14, 0xFF, 0x00},
    {0x04},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 16384) return -1;
  const ScenarioResult r = ParseScenario(kestrel::fuzz::AsText(data, size), "fuzz.scn");
  if (!r.scenario) {
    FUZZ_CHECK(r.error.rfind("fuzz.scn", 0) == 0, r.error);
    return 0;
  }
  FUZZ_CHECK(r.error.empty());
  EngineOptions options;
  Engine engine(*r.scenario, options, 0);
  for (double seconds : {0.0, 1.5, 60.0, 900.0, 86400.0}) {
    const Micros t = Ms(seconds * 1000);
    (void)engine.StateAt(t);
    for (const Bytes& request : kRequests) {
      for (const Bytes& answer : engine.Services(request, t)) {
        FUZZ_CHECK(!answer.empty() && answer.size() <= kMaxPayload14230,
                   "an answer of " + std::to_string(answer.size()) + " bytes");
      }
    }
  }
  return 0;
}
