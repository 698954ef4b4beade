// Properties every configuration load keeps, whatever the files hold: no
// table, row list, test list, channel list or text table holds more than its
// fixed size, and no request longer than a frame can carry.
#pragma once

#include <string>

#include "config/catalogue.h"
#include "config/parameter_lists.h"
#include "fuzz/fuzz_support.h"
#include "link/link_globals.h"

namespace kestrel::fuzz {

inline void CheckConfigTables() {
  for (int t = 0; t < kRequestTableCount; ++t) {
    const vorta::RequestTable& table = RequestTables[t];
    FUZZ_CHECK(table.Count <= vorta::kMaxRequests, "table " + std::to_string(t));
    for (int i = 0; i < table.Count; ++i) {
      const std::uint16_t length = table.Entries[i].Length;
      FUZZ_CHECK(length >= kMinRequestBytes && length <= kMaxRequestBytes,
                 "table " + std::to_string(t) + " request " + std::to_string(i));
    }
  }
  for (const ParameterTable* rows : {&LiveRows, &FreezeRows}) {
    FUZZ_CHECK(rows->RowCount >= 1 && rows->RowCount <= kMaxRows);
  }
  FUZZ_CHECK(TestSelectorCount >= 1 && TestSelectorCount <= kMaxTestPositions);
  const int liveRows = LiveRows.Empty() ? 0 : LiveRows.RowCount;
  for (const GraphChannelList& channel : GraphChannels) {
    FUZZ_CHECK(channel.Count == liveRows + 1, "a channel list against the live rows");
  }
  FUZZ_CHECK(DtcTexts.Count <= kMaxDtcTexts);
}

}  // namespace kestrel::fuzz
