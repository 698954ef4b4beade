// DTCError: the trouble codes of one list as a run of four-digit hex groups.

#include "module/module_internal.h"

namespace vorta::detail {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr unsigned kCodesPerSlot = 3;

}  // namespace

void CollectCodes(DtcQuery& query, char* text) {
  query.Count = 0;
  text[0] = '\0';
  query.Text = text;

  StoreArea area{};
  switch (query.List) {
    case 1:
      area = kAreaMode07;  // current codes
      break;
    case 2:
      area = kAreaDtc;  // stored codes
      break;
    default:
      return;
  }
  if (query.Store == nullptr) return;

  // Successive responses lie in successive slots from slot 0; the first empty
  // slot ends the list. Each slot carries three codes, the first byte high;
  // zero is no code. The count byte only marks the slot as filled.
  char* p = text;
  std::int32_t count = 0;
  // The counters that choose these slots are bytes: 256 responses at most.
  for (unsigned k = 0; k < 256; ++k) {
    const std::uint8_t* slot = Slot(query.Store, area, k);
    if (!HasData(slot)) break;
    for (unsigned j = 0; j < kCodesPerSlot; ++j) {
      const std::uint8_t high = slot[2 * j];
      const std::uint8_t low = slot[2 * j + 1];
      if (high == 0 && low == 0) continue;
      *p++ = kHexDigits[high >> 4];
      *p++ = kHexDigits[high & 0x0F];
      *p++ = kHexDigits[low >> 4];
      *p++ = kHexDigits[low & 0x0F];
      ++count;
    }
  }
  *p = '\0';
  query.Count = count;
}

}  // namespace vorta::detail

extern "C" VORTA_EXPORT void VORTA_CALL DTCError(vorta::DtcQuery* query) {
  // The text stays valid until the next DTCError call.
  static char text[vorta::detail::kDtcTextSize];
  if (query == nullptr) return;
  vorta::detail::CollectCodes(*query, text);
}
