// What the simulated ECU answers to a request payload (service identifier
// onwards), and the state those answers read and change: trouble codes,
// freeze frames, the test mode and the actuator overrides. No framing, timing
// or faults: the engine adds those around it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "ecusim/kline.h"
#include "ecusim/micros.h"
#include "ecusim/replay.h"
#include "ecusim/scenario.h"
#include "ecusim/vehicle.h"

namespace kestrel::ecusim {

class EcuServices {
 public:
  // `scenario` must outlive this object; times are on the clock of `start`,
  // the moment the engine started.
  EcuServices(const Scenario& scenario, std::shared_ptr<const Replay> replay, Micros start);

  // The payloads the ECU answers to `request` at time t (one per frame; empty
  // for an empty request).
  std::vector<Bytes> Answer(const Bytes& request, Micros t);

  // The car as the ECU sees it at time t (codes and lamp filled in).
  VehicleState StateAt(Micros t) const;

  const std::vector<std::uint16_t>& StoredCodes() const { return stored_; }
  const std::vector<std::uint16_t>& CurrentCodes() const { return current_; }
  std::size_t FreezeFrames() const { return freeze_.size(); }
  const ActuatorOverrides& Overrides() const { return forced_; }
  bool TestMode() const { return test_mode_; }

 private:
  std::optional<Bytes> Data(std::uint8_t service, std::uint16_t id, const VehicleState& v) const;
  bool Supported(std::uint8_t service, std::uint16_t id) const;
  std::vector<std::uint16_t> Ids(std::uint8_t service) const;
  std::vector<Bytes> Freeze(const Bytes& p, const VehicleState& v) const;
  std::vector<Bytes> DtcFrames(std::uint8_t sid, const std::vector<std::uint16_t>& codes) const;
  std::vector<Bytes> DtcStatus() const;
  std::vector<Bytes> Info(const Bytes& p) const;
  Bytes Control(const Bytes& p);
  void ClearCodes();

  const Scenario& s_;
  std::shared_ptr<const Replay> replay_;
  Micros start_;
  std::vector<std::uint16_t> stored_, current_;
  std::vector<FreezeFrame> freeze_;
  ActuatorOverrides forced_;
  bool test_mode_ = false;
};

}  // namespace kestrel::ecusim
