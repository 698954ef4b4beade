// How each window starts its link session: which requests it sends (the Skip
// flags of its request table), which response slots it clears first, whether
// it cycles, and how long it waits for each answer. The windows and
// kestrel-cli start their sessions through these, on the user-interface (or
// main) thread. Each waits for a previous session to end before it starts.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "link/recording.h"
#include "module/vorta.h"
#include "screenlogic/table_rows.h"

namespace kestrel {

// The response wait of the trouble-code sessions, in milliseconds.
inline constexpr std::int32_t kDtcResponseWait = 1000;

// Live data table: cyclic; actuator requests, the test-mode request 10 01 and
// the requests of inactive rows are held back.
void StartLivePolling();

// Dashboard: cyclic, every dashboard request.
void StartDashboardPolling();

// Freeze frames: one pass for `frame` (written into every request but the
// first, as SetFreezeFrameNumber does); its Mode 02 slots are cleared first.
void StartFreezeRead(std::uint8_t frame);

// Trouble codes: one pass of the reading table (the code areas cleared
// first), or of the clearing table with or without the memory-reset requests.
void StartDtcRead();
void StartDtcClear(bool withReset);

// ECU information: one pass of every request; the store is not cleared.
void StartInfoRead();

// Graphs: the eight channels, each a parameter key or nothing ("Нет").
using GraphChannelKeys = std::array<std::optional<ParameterKey>, kRtdChannels>;

// Sends exactly the live-data requests the channels need: Skip 1 everywhere,
// then 0 for every request whose service and identifier (and, for service
// 0x22, second identifier) are those of a channel.
void UpdateChannelRequests(vorta::RequestTable& table, const GraphChannelKeys& channels);

// Graphs: cyclic over the live-data table with the Skip flags as
// UpdateChannelRequests left them.
void StartGraphPolling();

}  // namespace kestrel
