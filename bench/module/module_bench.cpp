// PIDVAL over a full live table and Panel per call, through the built module.
//
// The live table calls PIDVAL once per row on every 100 ms tick; with the
// largest table (1,001 rows) the calls should take at most 100 us, 0.1 % of
// the tick. The rows mix formulas, derived quantities, bits, texts and raw
// dumps over filled Mode 01 and Local 21 areas.

#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "module/vorta.h"

namespace {

using vorta::kLocal21Offset;
using vorta::kMode01Offset;
using vorta::kSlotCountByte;
using vorta::kSlotSize;

struct Module {
  vorta::PidValProc pidval = nullptr;
  vorta::PanelProc panel = nullptr;

  Module() {
    void* handle = dlopen(VORTA_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      std::fprintf(stderr, "cannot load %s: %s\n", VORTA_MODULE_PATH, dlerror());
      std::exit(1);
    }
    pidval = reinterpret_cast<vorta::PidValProc>(dlsym(handle, "PIDVAL"));
    panel = reinterpret_cast<vorta::PanelProc>(dlsym(handle, "Panel"));
    if (pidval == nullptr || panel == nullptr) {
      std::fprintf(stderr, "missing export in %s\n", VORTA_MODULE_PATH);
      std::exit(1);
    }
  }
};

const Module& TheModule() {
  static const Module module;
  return module;
}

struct Row {
  std::uint8_t service;
  std::uint8_t id;
  std::uint8_t format;
};

// The response store with every Mode 01 and Local 21 slot filled with
// plausible bytes, and the engine constants set.
vorta::ResponseMemory* FilledMemory() {
  static vorta::ResponseMemory* memory = [] {
    auto* m = static_cast<vorta::ResponseMemory*>(std::calloc(1, sizeof(vorta::ResponseMemory)));
    if (m == nullptr) std::exit(1);
    for (std::size_t area : {kMode01Offset, kLocal21Offset}) {
      for (unsigned id = 0; id < 256; ++id) {
        std::uint8_t* slot = m->Store + area + id * kSlotSize;
        for (unsigned k = 0; k < 8; ++k) slot[k] = static_cast<std::uint8_t>(id * 7 + k * 31 + 1);
        slot[kSlotCountByte] = static_cast<std::uint8_t>(2 + id % 7);
      }
    }
    m->Query.Cylinders = 4;
    m->Query.InjectorFlow = 250.0;
    m->Query.Displacement = 2000;
    m->Query.FuelFactor = 14;
    m->Query.MapCorrection = 100;
    return m;
  }();
  return memory;
}

// 1,001 rows: every identifier on both services, mostly decoded by formula,
// with variants, derived quantities and bits mixed in.
std::vector<Row> LiveTable() {
  std::vector<Row> rows;
  static constexpr std::uint8_t kVariants[] = {0x00, 0x00, 0x10, 0x00, 0x20, 0x13, 0x00, 0x30};
  for (unsigned i = 0; rows.size() < static_cast<std::size_t>(vorta::kMaxRequests); ++i) {
    const auto id = static_cast<std::uint8_t>(i * 37 % 256);
    rows.push_back({static_cast<std::uint8_t>(i % 3 == 2 ? 0x21 : 0x01), id, kVariants[i % 8]});
  }
  return rows;
}

void BM_PidvalLiveTable(benchmark::State& state) {
  const Module& module = TheModule();
  vorta::ResponseMemory* m = FilledMemory();
  const std::vector<Row> rows = LiveTable();
  for (auto _ : state) {
    for (const Row& row : rows) {
      m->Query.Service = row.service;
      m->Query.Id1 = row.id;
      m->Query.Format = row.format;
      module.pidval(m->Store);
      benchmark::DoNotOptimize(m->Query.Text[0]);
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * rows.size()));
  state.counters["rows"] = static_cast<double>(rows.size());
}
BENCHMARK(BM_PidvalLiveTable)->Unit(benchmark::kMicrosecond);

// The most expensive rows alone: derived fuel quantities and numeric text.
void BM_PidvalDerivedOnly(benchmark::State& state) {
  const Module& module = TheModule();
  vorta::ResponseMemory* m = FilledMemory();
  static constexpr Row kRows[] = {{0x01, 0x0B, 0x20}, {0x01, 0x10, 0x30}, {0x21, 0xE4, 0x10}};
  std::size_t i = 0;
  for (auto _ : state) {
    const Row& row = kRows[i++ % 3];
    m->Query.Service = row.service;
    m->Query.Id1 = row.id;
    m->Query.Format = row.format;
    module.pidval(m->Store);
    benchmark::DoNotOptimize(m->Query.Text[0]);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PidvalDerivedOnly)->Unit(benchmark::kNanosecond);

void BM_Panel(benchmark::State& state) {
  const Module& module = TheModule();
  vorta::ResponseMemory* m = FilledMemory();
  vorta::PanelRecord record{};
  record.Store = m->Store;
  record.Cylinders = 4;
  record.InjectorFlow = 250.0;
  record.Displacement = 2000;
  record.FuelFactor = 14;
  record.MapCorrection = 100;
  const std::uint8_t sources[] = {2, 9, 1, 4};  // the dashboard's gauges
  for (int i = 0; i < 4; ++i) record.Gauges[i].Source = sources[i];
  for (auto _ : state) {
    module.panel(&record);
    benchmark::DoNotOptimize(record.FlowMlh);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Panel)->Unit(benchmark::kNanosecond);

}  // namespace

BENCHMARK_MAIN();
