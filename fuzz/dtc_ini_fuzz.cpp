// The trouble-code text file "dtc.ini".
//
// Input: the file.
//
// Properties: at most 1001 texts; a file refused for holding more keeps no
// text at all; no text of an earlier load is left behind the new ones (the
// file is read after one of 1001 texts); a code finds the text of its first
// entry; reading the same file twice gives the same table.
#include <cstdint>
#include <string>

#include "fuzz/config_checks.h"

namespace {

using namespace kestrel;

// The texts as one string, to compare two loads.
std::string Snapshot() {
  std::string all = std::to_string(DtcTexts.Count) + "\n";
  for (int i = 0; i < DtcTexts.Count && i < kMaxDtcTexts; ++i) {
    all += std::to_string(DtcTexts.Entries[i].Code) + " " + DtcTexts.Entries[i].Text + "\n";
  }
  return all;
}

}  // namespace

KESTREL_FUZZ_IN_SCRATCH_FOLDER("dtc-ini")

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string full = [] {
    std::string text;
    for (int i = 0; i < kMaxDtcTexts; ++i) text += "0171\r\nfull\r\n";
    return text;
  }();
  if (size > 65536) return -1;
  fuzz::WriteFile("full.ini", full);
  FUZZ_CHECK(LoadDtcTextsFrom("full.ini").Ok());
  fuzz::WriteFile("dtc.ini", fuzz::AsText(data, size));

  const LoadOutcome out = LoadDtcTextsFrom("dtc.ini");
  FUZZ_CHECK(out.Result != LoadResult::Missing, "dtc.ini exists");
  FUZZ_CHECK(DtcTexts.Count <= kMaxDtcTexts);
  if (!out.Ok()) FUZZ_CHECK(DtcTexts.Count == 0, "a refused file keeps no text");
  for (int i = DtcTexts.Count; i < kMaxDtcTexts; ++i) {
    FUZZ_CHECK(DtcTexts.Entries[i].Text.empty() && DtcTexts.Entries[i].Code == 0,
               "entry " + std::to_string(i) + " left from the earlier load");
  }
  for (int i = 0; i < DtcTexts.Count; ++i) {
    const std::string* text = DtcTexts.Find(DtcTexts.Entries[i].Code);
    FUZZ_CHECK(text != nullptr && text <= &DtcTexts.Entries[i].Text);
  }
  const std::string first = Snapshot();
  LoadDtcTextsFrom("dtc.ini");
  FUZZ_CHECK(Snapshot() == first, "a second reading differs");
  return 0;
}
