// Recordings (*.rtd): the reader with its seeking, the playback's filing of
// records into the response store, and the simulated ECU's replay of a
// recording.
//
// Input: the file's bytes.
//
// Properties: only whole 38-byte records count, and reading from the start,
// or from any record sought, gives the file's bytes; seeking past the end
// fails and leaves the position; filing a record touches nothing of the store
// but its one slot, which holds the record's bytes behind the identifier; the
// replay answers only identifiers the file holds, with at most the bytes a
// record carries.
#include <cstdint>
#include <cstring>
#include <string>

#include "ecusim/replay.h"
#include "fuzz/fuzz_support.h"
#include "link/recording.h"
#include "module/response_store.h"

namespace {

using namespace kestrel;

void CheckFiling(fuzz::SparseStore& store, const RtdRecord& record) {
  store.Reset();
  const bool filed = FileRtdRecord(record, store.Store());
  const std::uint8_t service = record[3];
  FUZZ_CHECK(filed == (service == 0x41 || service == 0x61 || service == 0x62));
  const std::vector<std::size_t> pages = store.TouchedPages();
  if (!filed) {
    FUZZ_CHECK(pages.empty(), "a record not filed wrote to the store");
    return;
  }
  const std::uint8_t* slot =
      service == 0x41   ? vorta::Slot(store.Store(), vorta::kAreaMode01, record[4])
      : service == 0x61 ? vorta::Slot(store.Store(), vorta::kAreaLocal21, record[4])
                        : vorta::Slot(store.Store(), vorta::kAreaCommon22,
                                      vorta::Common22Slot(record[4], record[5]));
  const std::size_t first = service == 0x62 ? 6 : 5;
  const std::size_t at = static_cast<std::size_t>(slot - store.Store());
  FUZZ_CHECK(pages.size() == 1 && pages[0] == at / fuzz::SparseStore::PageSize(),
             "filing wrote outside its slot's page");
  FUZZ_CHECK(std::memcmp(slot, record.data() + first, kRtdRecordSize - first) == 0);
  FUZZ_CHECK(vorta::SlotCount(slot) == kRtdRecordSize - first - 1);
  // The rest of the page stays empty.
  const std::uint8_t* page = store.Store() + pages[0] * fuzz::SparseStore::PageSize();
  for (std::size_t i = 0; i < fuzz::SparseStore::PageSize(); ++i) {
    const bool inSlot = page + i >= slot && page + i < slot + vorta::kSlotSize;
    FUZZ_CHECK(inSlot || page[i] == 0, "filing wrote outside its slot");
  }
}

}  // namespace

KESTREL_FUZZ_IN_SCRATCH_FOLDER("recording")

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz::SparseStore store;
  if (size > 38 * 200) return -1;
  fuzz::WriteFile("rec.rtd", fuzz::AsText(data, size));

  RtdReader reader;
  std::string error;
  FUZZ_CHECK(reader.Open("rec.rtd", error), error);
  const std::size_t records = size / kRtdRecordSize;
  FUZZ_CHECK(reader.RecordCount() == records);
  if (records > 0) {
    RtdRecord header{};
    std::memcpy(header.data(), data, kRtdRecordSize);
    FUZZ_CHECK(reader.Header().Encode() == header, "the header read back differs");
  }
  // From the start: the header, then every record.
  FUZZ_CHECK(reader.Seek(0));
  RtdRecord record{};
  std::size_t read = 0;
  while (reader.Read(record)) {
    FUZZ_CHECK(std::memcmp(record.data(), data + read * kRtdRecordSize, kRtdRecordSize) == 0);
    if (read > 0) CheckFiling(store, record);
    ++read;
  }
  FUZZ_CHECK(read == records && reader.Position() == records);
  // Seeking backwards from the end, then past it.
  for (std::size_t k = records; k-- > 0;) {
    FUZZ_CHECK(reader.Seek(k) && reader.Read(record) && reader.Position() == k + 1);
    FUZZ_CHECK(std::memcmp(record.data(), data + k * kRtdRecordSize, kRtdRecordSize) == 0);
  }
  FUZZ_CHECK(reader.Seek(records) && !reader.Read(record));
  FUZZ_CHECK(!reader.Seek(records + 1) && reader.Position() == records);

  const ecusim::Bytes bytes(data, data + size);
  if (auto replay = ecusim::Replay::FromBytes(bytes, "rec.rtd", error)) {
    FUZZ_CHECK(replay->Records() + 1 == records);
    FUZZ_CHECK(replay->IntervalMs() > 0);
    for (std::uint8_t service : {0x01, 0x21, 0x22}) {
      for (std::uint16_t id : replay->Ids(service)) {
        for (double seconds : {0.0, 0.05, 3.0, 1e6}) {
          const auto answer = replay->At(service, id, seconds);
          FUZZ_CHECK(answer && answer->size() <= kRtdRecordSize - 5);
        }
      }
      FUZZ_CHECK(!replay->At(service, 0xFFFF, 1.0) || service == 0x22);
    }
  }
  return 0;
}
