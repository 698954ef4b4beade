#include "screenlogic/dashboard.h"

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cmath>

#include "link/link_globals.h"

namespace kestrel {

const GaugeSpec kDashboardGauges[4] = {
    {2, 20, 81, 97, 101, 130},      // coolant temperature, °C
    {9, 20, 50, 81, 90, 130},       // transmission fluid temperature, °C
    {1, 0, 0, 80, 89, 100},         // engine load, %
    {4, 0, 1000, 4050, 5050, 7000}  // engine speed, rpm
};

void FillPanelRecord(vorta::PanelRecord& record, const std::uint8_t* store,
                     const vorta::ValueQuery& engine) {
  record.Store = store;
  for (int g = 0; g < 4; ++g) {
    const GaugeSpec& spec = kDashboardGauges[g];
    vorta::GaugeBands& bands = record.Gauges[g];
    bands.Source = spec.Source;
    bands.Low = spec.Low;
    bands.Green = spec.Green;
    bands.Yellow = spec.Yellow;
    bands.Red = spec.Red;
    bands.High = spec.High;
  }
  record.Cylinders = engine.Cylinders;
  record.InjectorFlow = engine.InjectorFlow;
  record.Displacement = engine.Displacement;
  record.FuelFactor = engine.FuelFactor;
  record.MapCorrection = engine.MapCorrection;
}

// ---------------------------------------------------------------- numbers

namespace {

char DecimalSeparator() {
  const std::lconv* conv = std::localeconv();
  const char* point = conv != nullptr ? conv->decimal_point : nullptr;
  // A separator of more than one byte (some UTF-8 locales) has no single-byte form.
  return point != nullptr && point[0] != '\0' && point[1] == '\0' ? point[0] : '.';
}

constexpr int kDigits = 17;  // significant digits that give a double exactly

}  // namespace

std::string FixedText(double value, int precision, int decimals) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  precision = std::clamp(precision, 1, kDigits - 1);
  decimals = std::clamp(decimals, 0, 18);

  // The decimal digits of |value| and the number of them before the point.
  char buf[48];
  const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value),
                                 std::chars_format::scientific, kDigits - 1);
  std::string digits(1, buf[0]);
  digits.append(buf + 2, buf + 1 + kDigits);
  const char* e = std::find(buf, res.ptr, 'e');
  int exponent = 0;
  if (e != res.ptr) {
    const char* from = e + 1;
    if (from != res.ptr && *from == '+') ++from;
    std::from_chars(from, res.ptr, exponent);
  }
  int point = exponent + 1;
  if (value == 0) point = 1;

  // Round half away from zero to `precision` digits and `decimals` decimals.
  const int keep = std::min(precision, point + decimals);
  std::string kept;
  if (keep >= 0) {
    kept = digits.substr(0, static_cast<std::size_t>(keep));
    if (digits[static_cast<std::size_t>(keep)] >= '5') {
      int i = keep - 1;
      for (; i >= 0 && kept[static_cast<std::size_t>(i)] == '9'; --i) {
        kept[static_cast<std::size_t>(i)] = '0';
      }
      if (i >= 0) {
        ++kept[static_cast<std::size_t>(i)];
      } else {
        kept.insert(kept.begin(), '1');
        ++point;
      }
    }
  }
  const bool zero = kept.find_first_not_of('0') == std::string::npos;
  const char separator = DecimalSeparator();
  std::string text = value < 0 && !zero ? "-" : "";

  if (!zero && point > precision) {
    // Too many integer digits: d.dddE<exponent>, trailing zeros dropped.
    kept.resize(static_cast<std::size_t>(precision), '0');
    while (kept.size() > 1 && kept.back() == '0') kept.pop_back();
    text += kept[0];
    if (kept.size() > 1) text += separator + kept.substr(1);
    return text + "E" + std::to_string(point - 1);
  }
  const auto digit = [&](int i) {
    return i >= 0 && i < static_cast<int>(kept.size()) && !zero ? kept[static_cast<std::size_t>(i)]
                                                                : '0';
  };
  if (point <= 0) {
    text += '0';
  } else {
    for (int i = 0; i < point; ++i) text += digit(i);
  }
  if (decimals > 0) {
    text += separator;
    for (int i = 0; i < decimals; ++i) text += digit(point + i);
  }
  return text;
}

// ---------------------------------------------------------------- gear and lever

std::string GearText(std::uint8_t gear) {
  if (gear == 0xFF) return {};
  std::string text = std::to_string(gear & 7);
  if (gear & 0x08) text += "+Lock";
  return text;
}

const char* SelectorPictureFile(SelectorPicture picture) {
  switch (picture) {
    case SelectorPicture::L:
      return "L.bmp";
    case SelectorPicture::Two:
      return "2.bmp";
    case SelectorPicture::R:
      return "R.bmp";
    case SelectorPicture::Three:
      return "3.bmp";
    case SelectorPicture::D:
      return "D.bmp";
    case SelectorPicture::S:
      return "S.bmp";
    case SelectorPicture::N:
      return "N.bmp";
    case SelectorPicture::None:
      break;
  }
  return "";
}

const char* SelectorLetter(SelectorPicture picture) {
  switch (picture) {
    case SelectorPicture::L:
      return "L";
    case SelectorPicture::Two:
      return "2";
    case SelectorPicture::R:
      return "R";
    case SelectorPicture::Three:
      return "3";
    case SelectorPicture::D:
      return "D";
    case SelectorPicture::S:
      return "S";
    case SelectorPicture::N:
      return "N";
    case SelectorPicture::None:
      break;
  }
  return "-";
}

SelectorPicture SelectorPictureFor(std::uint16_t selector, SelectorPicture previous) {
  struct Bit {
    std::uint16_t mask;
    SelectorPicture picture;
  };
  static constexpr Bit kOrder[] = {
      {0x100, SelectorPicture::L},     {0x200, SelectorPicture::Two}, {0x400, SelectorPicture::R},
      {0x001, SelectorPicture::Three}, {0x004, SelectorPicture::D},   {0x008, SelectorPicture::S},
  };
  SelectorPicture picture = previous;
  for (const Bit& b : kOrder) {
    if (selector & b.mask) picture = b.picture;
  }
  if ((selector & 0x70F) == 0) picture = SelectorPicture::N;
  return picture;
}

// ---------------------------------------------------------------- the tick

namespace {

enum : int { kShownRpm = 3, kShownSpeed = 4 };

// One tick of the timer counts as 0.1 s: ml/h x 0.1 s / 3600 s/h / 1000 ml/l.
constexpr double kMlhTickToLitres = 36'000'000.0;

template <typename T>
void SetIfChanged(T& field, const T& value, unsigned& changed, unsigned bit) {
  if (field == value) return;
  field = value;
  changed |= bit;
}

}  // namespace

DashboardLogic::DashboardLogic()
    : bars_{{kBarWidth, kBarHeight}, {kBarWidth, kBarHeight}, {kBarWidth, kBarHeight}},
      arc_(kArcWidth, kArcHeight) {
  // Without a module the record reads as "nothing available".
  record_.Gear = 0xFF;
  record_.Selector = 0xFFFF;
}

void DashboardLogic::Show() {
  for (PixelBuffer& bar : bars_) bar.Fill(kBlack);
  arc_.Fill(kBlack);
}

void DashboardLogic::Activate() {
  std::fill(std::begin(shown_), std::end(shown_), false);
  lastSelector_ = -1;
  lastCodes_ = -1;
  sumMlh_ = sumL100_ = 0.0;
  countMlh_ = countL100_ = 0;
  fuelUsed_ = 0.0;
  reconnectTicks_ = 0;
}

bool DashboardLogic::TakeStartRequest(std::uint16_t status, std::uint8_t autostart,
                                      std::int32_t reconnectTime, std::uint8_t& startRequest) {
  if (reconnectTime > 0) {
    if (autostart != 0 && status == lsError) ++reconnectTicks_;
    if (reconnectTime < reconnectTicks_) {
      reconnectTicks_ = 0;
      startRequest = 1;
    }
  }
  if (startRequest == 0) return false;
  startRequest = 0;
  return true;
}

bool DashboardLogic::Changed(int index, double value) {
  // NaN never equals itself: such a value is drawn on every tick.
  if (shown_[index] && last_[index] == value) return false;
  shown_[index] = true;
  last_[index] = value;
  return true;
}

void DashboardLogic::EngineSpeedBlock() {
  const double flow = record_.FlowMlh;
  view_.Rpm = FixedText(record_.Gauges[kGaugeRpm].Value, 5, 0) + " ";
  DrawArcGauge(arc_, record_.Gauges[kGaugeRpm]);
  view_.FlowMlh = FixedText(flow, 5, 2);
  if (flow != 0) {
    sumMlh_ += flow;
    ++countMlh_;
  }
  avgMlh_ = countMlh_ != 0 ? sumMlh_ / static_cast<double>(countMlh_) : 0.0;
  view_.AvgMlh = FixedText(avgMlh_, 5, 2);
  if (record_.Speed > 0 && flow > 0) {
    sumL100_ += record_.FlowL100;
    ++countL100_;
    avgL100_ = countL100_ != 0 ? sumL100_ / static_cast<double>(countL100_) : 0.0;
    view_.FlowL100 = FixedText(record_.FlowL100, 5, 2);
    view_.AvgL100 = FixedText(avgL100_, 5, 2);
  } else {
    view_.FlowL100 = "?";
  }
  fuelUsed_ += flow / kMlhTickToLitres;
  view_.FuelUsed = FixedText(fuelUsed_, 5, 2);
}

DashboardTick DashboardLogic::Present(std::uint16_t status, std::uint16_t error,
                                      std::uint8_t runFlag) {
  DashboardTick tick;
  unsigned& changed = tick.Changed;
  SetIfChanged(view_.Status, LinkStatusText(status, error, /*dashboard=*/true), changed,
               kChangedStatus);
  view_.StartEnable = status == lsIdle || status == lsExchange || status == lsError;
  view_.ExitEnabled = status == lsIdle || status == lsError;
  tick.StopPolling = status == lsError && runFlag != 0;

  SetIfChanged(view_.Lamp, record_.CheckLamp, changed, kChangedLamp);
  if (lastCodes_ != record_.DtcCount) {
    lastCodes_ = record_.DtcCount;
    SetIfChanged(view_.Codes, std::to_string(record_.DtcCount), changed, kChangedCodes);
  }

  for (int i = 0; i < kBarGauges; ++i) {
    if (!Changed(i, record_.Gauges[i].Value)) continue;
    view_.Bars[i] = DrawBarGauge(bars_[i], record_.Gauges[i]);
    changed |= kChangedBar0 << i;
  }

  if (status == lsExchange && Changed(kShownRpm, record_.Gauges[kGaugeRpm].Value)) {
    EngineSpeedBlock();
    changed |= kChangedArc;
  }

  if (Changed(kShownSpeed, record_.Speed)) {
    SetIfChanged(view_.Speed, FixedText(record_.Speed, 5, 0) + " ", changed, kChangedSpeed);
  }

  SetIfChanged(view_.GearVisible, record_.Gear != 0xFF, changed, kChangedGear);
  if (record_.Gear != 0xFF) SetIfChanged(view_.Gear, GearText(record_.Gear), changed, kChangedGear);

  if (lastSelector_ != record_.Selector) {
    lastSelector_ = record_.Selector;
    changed |= kChangedSelector;
    if (record_.Selector == 0xFFFF) {
      view_.SelectorVisible = false;
    } else {
      view_.SelectorVisible = true;
      view_.OverdriveOff = (record_.Selector & 0x1000) != 0;
      view_.Selector = SelectorPictureFor(record_.Selector, view_.Selector);
    }
  }
  return tick;
}

DashboardTick DashboardLogic::Update(std::uint16_t status, std::uint16_t error,
                                     std::uint8_t runFlag, vorta::PanelProc panel,
                                     const std::uint8_t* store, const vorta::ValueQuery& engine) {
  FillPanelRecord(record_, store, engine);
  if (panel != nullptr) panel(&record_);
  return Present(status, error, runFlag);
}

}  // namespace kestrel
