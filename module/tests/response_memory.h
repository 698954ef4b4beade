// A zeroed response store with its ValueQuery, and helpers to fill slots.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <new>

#include "module/vorta.h"

namespace vorta::testing {

struct FreeDeleter {
  void operator()(ResponseMemory* p) const { std::free(p); }
};

// calloc: the 34 MB come as zero pages, so a fresh store per test is cheap.
inline std::unique_ptr<ResponseMemory, FreeDeleter> NewResponseMemory() {
  auto* p = static_cast<ResponseMemory*>(std::calloc(1, sizeof(ResponseMemory)));
  if (p == nullptr) throw std::bad_alloc();
  return std::unique_ptr<ResponseMemory, FreeDeleter>(p);
}

// Writes `bytes` into slot `index` of the area at `areaOffset` and sets its count byte.
inline void FillSlot(ResponseMemory& m, std::size_t areaOffset, std::size_t index,
                     std::initializer_list<std::uint8_t> bytes) {
  std::uint8_t* slot = m.Store + areaOffset + index * kSlotSize;
  std::size_t i = 0;
  for (std::uint8_t b : bytes) slot[i++] = b;
  slot[kSlotCountByte] = static_cast<std::uint8_t>(bytes.size());
}

// Writes bytes without marking the slot as filled (count byte stays as it is).
inline void PokeSlot(ResponseMemory& m, std::size_t areaOffset, std::size_t index,
                     std::initializer_list<std::uint8_t> bytes) {
  std::uint8_t* slot = m.Store + areaOffset + index * kSlotSize;
  std::size_t i = 0;
  for (std::uint8_t b : bytes) slot[i++] = b;
}

}  // namespace vorta::testing
