#include "screenlogic/sessions.h"

#include <algorithm>

#include "config/parameter_lists.h"
#include "link/link_globals.h"
#include "link/session.h"
#include "screenlogic/freeze.h"
#include "screenlogic/live.h"
#include "screenlogic/trouble_codes.h"

namespace kestrel {

namespace {

void SendAll(vorta::RequestTable& table) {
  const int count = std::min<int>(table.Count, vorta::kMaxRequests);
  for (int e = 0; e < count; ++e) SetSkip(table.Entries[e], 0);
}

}  // namespace

void StartLivePolling() {
  PrepareLiveSkips(RequestTables[kLiveTable], LiveRows);
  StartSession(RequestTables[kLiveTable], LinkSettings.P2, 1);
}

void StartDashboardPolling() {
  SendAll(RequestTables[kDashboardTable]);
  StartSession(RequestTables[kDashboardTable], LinkSettings.P2, 1);
}

void StartFreezeRead(std::uint8_t frame) {
  // The requests ask for the frame read even when a configuration load has
  // put the file's frame numbers back since the number was chosen.
  SetFreezeFrameNumber(RequestTables[kFreezeTable], frame);
  PrepareFreezeRead(RequestTables[kFreezeTable], FreezeRows, ResponseStore, frame);
  StartSession(RequestTables[kFreezeTable], LinkSettings.P2, 0);
}

void StartDtcRead() {
  PrepareDtcRead(RequestTables[kDtcReadTable], ResponseStore);
  StartSession(RequestTables[kDtcReadTable], kDtcResponseWait, 0);
}

void StartDtcClear(bool withReset) {
  PrepareDtcClear(RequestTables[kDtcClearTable], withReset);
  StartSession(RequestTables[kDtcClearTable], kDtcResponseWait, 0);
}

void StartInfoRead() {
  SendAll(RequestTables[kInfoTable]);
  StartSession(RequestTables[kInfoTable], LinkSettings.P2, 0);
}

void UpdateChannelRequests(vorta::RequestTable& table, const GraphChannelKeys& channels) {
  const int count = std::min<int>(table.Count, vorta::kMaxRequests);
  for (int e = 0; e < count; ++e) SetSkip(table.Entries[e], 1);
  for (const std::optional<ParameterKey>& key : channels) {
    if (!key) continue;
    for (int e = 0; e < count; ++e) {
      vorta::RequestEntry& entry = table.Entries[e];
      if (entry.Data[3] != key->Service || entry.Data[4] != key->Id1) continue;
      if (key->Service == 0x22 && entry.Data[5] != key->Id2) continue;
      SetSkip(entry, 0);
    }
  }
}

void StartGraphPolling() {
  StartSession(RequestTables[kLiveTable], LinkSettings.P2, 1);
}

}  // namespace kestrel
