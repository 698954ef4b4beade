// The tester's side of the K-Line initialisations, as line states and bytes:
// the session thread (TxD) and the link check (kestrel-cli doctor) drive the
// line with the same code, so that what the check proves is what a session
// does.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "link/link_clock.h"
#include "link/serial_port.h"

namespace kestrel {

// A 5-baud address takes ten bit cells of 200 ms.
inline constexpr int kFiveBaudBitMs = 200;
inline constexpr int kFiveBaudAddressMs = 10 * kFiveBaudBitMs;

// The byte a 5-baud or ISO 9141 initialisation sends at 5 baud: the request
// address for ISO 9141 or functional addressing, else the ECU address.
std::uint8_t InitAddress(std::uint8_t protocol, std::uint8_t addressing, std::uint8_t ecuAddress,
                         std::uint8_t requestAddress);

// The fast init's StartCommunication request with its checksum: 0x81 and the
// ECU address (physical) or 0xC1 and the request address (functional), the
// tester address, the service 0x81.
std::array<std::uint8_t, 5> StartCommunicationFrame(std::uint8_t addressing,
                                                    std::uint8_t ecuAddress,
                                                    std::uint8_t requestAddress,
                                                    std::uint8_t testerAddress);

// The fast init's wake-up pattern from now on: the line low (break) for
// lowMs, then high for highMs. False when *abort ended a wait (the line is
// released all the same).
bool SendWakeUpPattern(SerialPort& port, LinkClock& clock, int lowMs, int highMs,
                       const std::atomic<bool>* abort);

// The address at 5 baud as line states from now on: a start bit (low), the
// eight bits least significant first (1 high, 0 low) and a stop bit (high),
// each for 200 ms, so the line is left high 2 s after `start`, which is set
// to the moment of the first edge. False when *abort ended a wait (the line
// is released all the same).
bool SendFiveBaudAddress(SerialPort& port, LinkClock& clock, std::uint8_t address,
                         const std::atomic<bool>* abort, MonoNs& start);

}  // namespace kestrel
