// Addressing of the response store: which slot an answer lands in, whether a
// slot holds data, filing bytes into a slot and clearing areas.
//
// The store is a block of 256-byte slots grouped into areas (module/vorta.h
// gives their offsets). Byte 255 of a slot counts the data bytes it holds;
// 0 means empty. The receiver files answers here, the windows and the
// command-line tool clear and read areas, playback of a recording files its
// records, and the vehicle module reads slots: all of them address the store
// through this header only. Header-only and free of the program's code, so
// the separately built module can use it too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "module/vorta.h"

namespace vorta {

// One area of the store: where it starts and how many bytes it spans.
struct StoreArea {
  std::size_t Offset;
  std::size_t Size;
  constexpr std::size_t Slots() const { return Size / kSlotSize; }
};
// Every area holds a power of two of slots (256 or 65,536).
static_assert((kMode01Size / kSlotSize & (kMode01Size / kSlotSize - 1)) == 0);
static_assert((kMode02Size / kSlotSize & (kMode02Size / kSlotSize - 1)) == 0);

inline constexpr StoreArea kAreaMode01{kMode01Offset, kMode01Size};           // slot = PID
inline constexpr StoreArea kAreaMode02{kMode02Offset, kMode02Size};           // PID*256 + frame
inline constexpr StoreArea kAreaMode07{kMode07Offset, kMode07Size};           // running number
inline constexpr StoreArea kAreaMode09{kMode09Offset, kMode09Size};           // type*16 + message
inline constexpr StoreArea kAreaDtc{kDtcOffset, kDtcSize};                    // running number
inline constexpr StoreArea kAreaDtcStatus{kDtcStatusOffset, kDtcStatusSize};  // running number
inline constexpr StoreArea kAreaLocal21{kLocal21Offset, kLocal21Size};        // slot = local id
inline constexpr StoreArea kAreaCommon22{kCommon22Offset, kCommon22Size};     // high*256 + low
inline constexpr StoreArea kAreaControl30{kControl30Offset, kControl30Size};  // slot = local id

// Slot numbers of the areas indexed by two identifier bytes.
constexpr std::size_t Mode02Slot(std::uint8_t pid, std::uint8_t frame) {
  return pid * 256u + frame;
}
constexpr std::size_t Mode09Slot(std::uint8_t infoType, std::uint8_t message) {
  return infoType * 16u + message;  // type 0..15, message 0..15
}
constexpr std::size_t Common22Slot(std::uint8_t high, std::uint8_t low) {
  return high * 256u + low;
}

// Byte offset of slot `index` of an area from the start of the store. The
// index wraps at the area's slot count, so no index addresses a byte outside
// the area.
constexpr std::size_t SlotOffset(StoreArea area, std::size_t index) {
  return area.Offset + (index & (area.Slots() - 1)) * kSlotSize;
}
inline std::uint8_t* Slot(std::uint8_t* store, StoreArea area, std::size_t index) {
  return store + SlotOffset(area, index);
}
inline const std::uint8_t* Slot(const std::uint8_t* store, StoreArea area, std::size_t index) {
  return store + SlotOffset(area, index);
}

// The number of data bytes a slot holds; 0 = empty.
inline std::uint8_t SlotCount(const std::uint8_t* slot) {
  return slot[kSlotCountByte];
}
inline bool HasData(const std::uint8_t* slot) {
  return SlotCount(slot) != 0;
}

// Copies `count` bytes (at most 255) into a slot and writes the count into its
// byte 255. The windows and the module read slots while the receiver fills
// them, by design: these byte copies are the only writes that race with those
// reads (the ThreadSanitizer suppression names this function), so every
// filing goes through here.
[[gnu::noinline]] inline void FileSlotBytes(std::uint8_t* slot, const std::uint8_t* bytes,
                                            std::size_t count) {
  if (count > kSlotCountByte) count = kSlotCountByte;
  std::memcpy(slot, bytes, count);
  slot[kSlotCountByte] = static_cast<std::uint8_t>(count);
}

// Zeroes a whole area (data and count bytes).
inline void ClearArea(std::uint8_t* store, StoreArea area) {
  std::memset(store + area.Offset, 0, area.Size);
}

// Marks every slot of an area empty, leaving the data bytes as they are.
inline void ClearAreaCounts(std::uint8_t* store, StoreArea area) {
  for (std::size_t s = 0; s < area.Slots(); ++s) {
    store[area.Offset + s * kSlotSize + kSlotCountByte] = 0;
  }
}

// Marks every slot of the whole store empty.
inline void ClearStoreCounts(std::uint8_t* store) {
  for (std::size_t at = kSlotCountByte; at < kResponseStoreSize; at += kSlotSize) store[at] = 0;
}

}  // namespace vorta
