// The common way to start, watch and stop a link session.
//
// A window prepares the Skip flags of its request table (and clears the
// response slots it wants fresh), then calls StartSession. At most one
// session runs at a time; the link keeps the one TxD object, and reclaims
// (joins) it when the next session starts or StopSession is called. Call
// StopSession before the program ends: no session thread outlives main.
#pragma once

#include <cstdint>

#include "link/txd.h"
#include "module/vorta.h"

namespace kestrel {

// A SessionRecord from LinkSettings and the link globals, for the given table
// and response wait (P2, or 1000 ms for the trouble-code screen).
SessionRecord MakeSessionRecord(vorta::RequestTable& table, std::int32_t responseWait);

// Clears RunFlag so that a running session ends after its pass, waits until
// LinkStatus is lsIdle or lsError (the caller sleeps meanwhile), then sets
// RunFlag to runFlag and LinkStatus to lsOpenPort, resets PassCount and
// starts a TxD on the record. If no thread can be created the
// status becomes lsError with 0x0040.
void StartSession(const SessionRecord& record, std::uint8_t runFlag);
void StartSession(vorta::RequestTable& table, std::int32_t responseWait, std::uint8_t runFlag);

// Waits until LinkStatus is lsIdle or lsError. With a limit (ms >= 0) returns
// false when it is not reached in time.
void WaitLinkIdle();
bool WaitLinkIdle(int ms);

// Ends the running session, if any, and waits for it: RunFlag is cleared, the
// pass in progress is cut short, the receiver stopped, the port closed and the
// final LinkStatus written. Then the thread is joined.
void StopSession();

}  // namespace kestrel
