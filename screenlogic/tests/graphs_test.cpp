// The graphs window's logic: the tick's decisions, channels and their
// recorded descriptors, sampling, the recording file's name, header and
// creation, playback with Timer2's steps, seeks and the slider's formula.
#include "screenlogic/graphs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <string>

#include "common/cp1251.h"
#include "link/link_globals.h"
#include "module/response_store.h"
#include "tests/support/support.h"

namespace kestrel {
namespace {

using namespace cp1251_literals;

// The decisions of a tick in one line: the controls record, stop, open,
// play, selectors, export, start/stop, exit, pause ('+' enabled, '-'
// disabled, '.' left), then the flags EndRecording, EndPlaying,
// StopPolling, Sample (1 or 0).
std::string Decisions(const GraphControls& c) {
  auto e = [](Enable v) { return v == Enable::On ? '+' : v == Enable::Off ? '-' : '.'; };
  std::string s{e(c.Record), e(c.Stop),      e(c.Open), e(c.Play),  e(c.Selectors),
                e(c.Export), e(c.StartStop), e(c.Exit), e(c.Pause), ' '};
  for (bool b : {c.EndRecording, c.EndPlaying, c.StopPolling, c.Sample}) s += b ? '1' : '0';
  return s;
}

TEST(GraphTick, ControlsAndFlagsOfStepsTwoToSeven) {
  struct Case {
    std::uint16_t status;
    std::uint8_t record, playing, busy, run;
    const char* want;
  };
  const Case cases[] = {
      {lsIdle, 0, 0, 0, 0, "--++++++- 0000"},
      {lsIdle, 0, 1, 0, 0, "-+----+++ 0001"},       // playing: stop and pause, no choices
      {lsIdle, 0, 0, 1, 0, "-------+- 0000"},       // exporting: no choice, no link, exit only
      {lsExchange, 0, 0, 0, 1, "+-----+-- 0001"},   // polling: record, no exit
      {lsExchange, 1, 0, 0, 1, "-+----+-- 0001"},   // recording: stop
      {lsFirstPass, 0, 1, 0, 1, "+-----.-- 0101"},  // a link start ends playback
      {lsInit5Baud, 1, 0, 0, 1, "-.----.-- 1000"},  // leaving the exchange ends recording
      {lsError, 1, 0, 0, 1, "--++++++- 1010"},      // an error stops polling
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Decisions(GraphTickControls(c.status, c.record, c.playing, c.busy, c.run)), c.want)
        << "status " << c.status << " record " << int(c.record) << " playing " << int(c.playing);
  }
}

// Live rows with a code (" 2105") and a selector each.
std::unique_ptr<ParameterTable> Rows(std::initializer_list<std::pair<const char*, const char*>> r) {
  auto rows = std::make_unique<ParameterTable>();
  rows->RowCount = 0;
  for (const auto& [code, selector] : r) {
    ParameterRow& row = rows->Rows[rows->RowCount++];
    row.Cells[kColCode] = std::string(" ") + code;
    row.Cells[kColSelector] = selector;
    row.Cells[kColUnit] = "°C"_cp;
  }
  return rows;
}

TEST(GraphChannels, KeysUnitsAndRecordedChannelsMatchedToRows) {
  auto rows = Rows({{"2105", "00"}, {"2101", "08"}, {"2101", "00"}, {"2201A2", "13"}});
  EXPECT_FALSE(ChannelKeyOf(0, *rows));
  EXPECT_FALSE(ChannelKeyOf(5, *rows));  // past the rows
  EXPECT_EQ(ChannelKeyOf(4, *rows), (ParameterKey{0x22, 0x01, 0xA2, 0x13}));
  EXPECT_EQ(ChannelUnit(0, *rows), "-");
  EXPECT_EQ(ChannelUnit(1, *rows), "°C"_cp);

  const int items = 5;
  EXPECT_EQ(MatchChannel({0x21, 0x01, 0x00, 0x00}, *rows, items), 3);  // all four bytes count
  EXPECT_EQ(MatchChannel({0x21, 0x01, 0x00, 0x08}, *rows, items), 2);
  EXPECT_EQ(MatchChannel({0x21, 0x0C, 0x00, 0x00}, *rows, items), 0);  // no such row: "Нет"
  EXPECT_EQ(MatchChannel({0x22, 0x01, 0xA2, 0x13}, *rows, 4), 0);      // the selector lacks it
  // A channel recorded on "Нет" is "Нет" again, even against a list whose
  // only row is the empty one of a load that matched nothing.
  auto empty = std::make_unique<ParameterTable>();
  EXPECT_EQ(MatchChannel({}, *empty, 2), 0);
}

TEST(GraphSampling, ModuleValuesIntoBothChartsAndHiddenChannels) {
  // A module whose value is the identifier, and not a number for 0xEE.
  auto memory = std::make_unique<vorta::ResponseMemory>();
  vorta::PidValProc pidval = [](std::uint8_t* store) {
    vorta::ValueQuery& q = reinterpret_cast<vorta::ResponseMemory*>(store)->Query;
    q.Value = q.Id1 == 0xEE ? std::numeric_limits<double>::quiet_NaN() : q.Id1;
  };
  GraphChannelKeys keys;
  keys[0] = ParameterKey{0x21, 0x05, 0, 0};
  keys[5] = ParameterKey{0x21, 0x0C, 0, 0};
  keys[6] = ParameterKey{0x21, 0xEE, 0, 0};
  auto logic = std::make_unique<GraphsLogic>();
  logic->GrafInit();
  logic->SampleAndDraw(keys, *memory, pidval);
  EXPECT_EQ(logic->Charts(0).Values[0], 5.0);
  EXPECT_EQ(logic->Charts(1).Values[1], 12.0);
  EXPECT_EQ(logic->Charts(1).Values[2], 0.0);  // not a number: drawn as 0
  EXPECT_EQ(logic->Labels(5).Value, "12.00");
  EXPECT_EQ(logic->Labels(5).Max, "12.60");

  logic->SetVisible(5, false);
  EXPECT_FALSE(logic->Charts(1).Visible[1]);
  EXPECT_EQ(logic->Charts(0).Redraw, 1);
  EXPECT_EQ(logic->Charts(1).Redraw, 1);
  logic->SampleAndDraw(keys, *memory, nullptr);  // no module: every value 0
  EXPECT_EQ(logic->Charts(1).Values[1], 0.0);
}

TEST(GraphRecording, NameHeaderAndTheFileTheReceiverExtends) {
  std::tm when{};
  when.tm_mday = 5;
  when.tm_mon = 2;
  when.tm_year = 112;
  when.tm_hour = 9;
  when.tm_min = 7;
  when.tm_sec = 2;
  EXPECT_EQ(RecordingName(when), "050312_090702.rtd");
  when.tm_year = 100;
  EXPECT_EQ(RecordingName(when), "050300_090702.rtd");

  GraphChannelKeys keys;
  keys[1] = ParameterKey{0x21, 0x0C, 0x00, 0x00};
  const RtdHeader header = RecordingHeader(keys, 45, 12);
  EXPECT_EQ(header.IntervalMs, 57);
  EXPECT_EQ(header.Channels[1], (ChannelDescriptor{0x21, 0x0C, 0, 0}));
  EXPECT_EQ(header.Channels[0], ChannelDescriptor{});  // "Нет": four zero bytes

  testing::ScratchDir dir("kestrel-graphs");
  RecordEnabled.store(0);
  RecordFileName.Set("");
  const std::string path = RecordingPath(when);
  EXPECT_EQ(path, (dir.Path() / "Kadr" / "050300_090702.rtd").string());  // "Kadr" made for it
  std::string error;
  ASSERT_TRUE(StartRecording(path, header, error)) << error;
  EXPECT_EQ(RecordFileName.Get(), path);
  EXPECT_EQ(RecordEnabled.load(), 1);
  const std::uint8_t frame[] = {0x83, 0xF1, 0x10, 0x61, 0x0C, 0x20, 0x09};
  ASSERT_TRUE(AppendRtdRecord(path, frame, sizeof frame));
  EXPECT_EQ(std::filesystem::file_size(path), 2 * kRtdRecordSize);
  // Another recording in the same second leaves this one as it is.
  EXPECT_EQ(RecordingPath(when), (dir.Path() / "Kadr" / "050300_090702_2.rtd").string());

  RecordEnabled.store(0);
  EXPECT_FALSE(StartRecording("Нет/такой/папки.rtd"_cp, header, error));
  EXPECT_NE(error.find("Нет/такой/папки.rtd"_cp), std::string::npos) << error;
  EXPECT_NE(error.find("нет такого файла или папки"_cp), std::string::npos) << error;
  EXPECT_EQ(RecordEnabled.load(), 0);
  EXPECT_EQ(RecordFileName.Get(), path);
  RecordFileName.Set("");
}

TEST(GraphPlayback, FilesRecordsFollowsTheSliderSeeksAndEndsQuietly) {
  testing::ScratchDir dir("kestrel-graphs");
  RtdHeader header;
  header.IntervalMs = 0x0C;  // the header's byte 4 would name PID 0C
  auto frame = [](std::initializer_list<std::uint8_t> bytes) {
    return std::string(bytes.begin(), bytes.end()) +
           std::string(kRtdRecordSize - bytes.size(), '\0');
  };
  const RtdRecord h = header.Encode();
  std::string bytes(h.begin(), h.end());
  bytes += frame({0x83, 0xF1, 0x10, 0x61, 0x05, 0x80, 0x5A});        // 1: Local 21 slot 05
  bytes += frame({0x84, 0xF1, 0x10, 0x41, 0x0C, 0x1A, 0xF8, 0x4B});  // 2: Mode 01 slot 0C
  bytes += frame({0x84, 0xF1, 0x10, 0x62, 0x01, 0xA2, 0x07, 0x00});  // 3: Common 22 slot 01A2
  bytes += frame({0x83, 0xF1, 0x10, 0x7F, 0x21, 0x12, 0x00});        // 4: not filed
  bytes += "partial";                                                // a tail that is no record
  testing::WriteRaw("p.rtd", bytes);

  auto memory = std::make_unique<vorta::ResponseMemory>();
  std::uint8_t* store = memory->Store;
  auto count = [&](vorta::StoreArea area, std::size_t slot) {
    return vorta::SlotCount(vorta::Slot(store, area, slot));
  };
  auto logic = std::make_unique<GraphsLogic>();
  std::string error;
  ASSERT_TRUE(logic->OpenPlayback("p.rtd", error, "p.rtd")) << error;
  EXPECT_EQ(logic->LastRecord(), 4);
  EXPECT_EQ(logic->PlaybackIntervalMs(), 12);
  // Values of an earlier session are forgotten: they are no part of the file.
  vorta::Slot(store, vorta::kAreaLocal21, 0x0C)[vorta::kSlotCountByte] = 2;
  vorta::Slot(store, vorta::kAreaCommon22, 0x01A2)[vorta::kSlotCountByte] = 2;
  vorta::Slot(store, vorta::kAreaMode09, 0x11)[vorta::kSlotCountByte] = 2;
  GraphChannelKeys keys;
  keys[3] = ParameterKey{0x22, 0x01, 0xA2, 0};
  logic->BeginPlayback(store, keys);
  EXPECT_EQ(logic->Playing, 1);
  EXPECT_EQ(count(vorta::kAreaLocal21, 0x0C), 0);
  EXPECT_EQ(count(vorta::kAreaCommon22, 0x01A2), 0);
  EXPECT_EQ(count(vorta::kAreaMode09, 0x11), 2);
  // Ticks on time: one record each.
  double now = 1000;
  auto tick = [&](int intervals = 1) {
    now += 12 * intervals;
    return logic->PlaybackTick(store, now);
  };

  PlaybackStep step = tick();
  EXPECT_TRUE(step.Moved);
  EXPECT_EQ(logic->SliderPos, 1);
  EXPECT_EQ(count(vorta::kAreaLocal21, 0x05), 32);
  EXPECT_EQ(vorta::Slot(store, vorta::kAreaLocal21, 0x05)[0], 0x80);
  logic->Dragging = 1;  // a drag keeps the slider where the user holds it
  EXPECT_FALSE(tick().Moved);
  EXPECT_EQ(logic->SliderPos, 1);
  EXPECT_EQ(count(vorta::kAreaMode01, 0x0C), 32);
  logic->Dragging = 0;
  tick();
  EXPECT_EQ(count(vorta::kAreaCommon22, vorta::Common22Slot(0x01, 0xA2)), 31);
  tick();
  EXPECT_EQ(logic->SliderPos, 4);
  EXPECT_EQ(count(vorta::kAreaControl30, 0x21), 0);

  // A seek to position 0 plays from record 1: the header ("RTDA", 'A' =
  // 0x41) is no Mode 01 answer for PID 0C.
  vorta::Slot(store, vorta::kAreaMode01, 0x0C)[vorta::kSlotCountByte] = 0;
  logic->Dragging = 1;
  logic->SliderPos = 0;
  logic->EndDrag();
  EXPECT_EQ(logic->Dragging, 0);
  EXPECT_EQ(logic->Charts(0).Cursor, 0);  // GrafInit
  tick(50);                               // the pace starts again after a seek: no catching up
  EXPECT_EQ(logic->SliderPos, 1);
  EXPECT_EQ(count(vorta::kAreaMode01, 0x0C), 0);
  // A tick two intervals late plays both records due.
  tick(2);
  EXPECT_EQ(logic->SliderPos, 3);
  EXPECT_EQ(count(vorta::kAreaMode01, 0x0C), 32);
  logic->SliderPos = 2;
  logic->EndDrag();
  tick();
  EXPECT_EQ(logic->SliderPos, 2);

  // The end of the file (the tail is no record) ends playback; the next
  // tick stops the timer and closes the file.
  step = tick(5);
  EXPECT_TRUE(step.Ended);
  EXPECT_EQ(logic->SliderPos, 4);
  EXPECT_EQ(logic->Playing, 0);
  EXPECT_TRUE(logic->PlaybackOpen());
  EXPECT_TRUE(tick().StopTimer);
  EXPECT_FALSE(logic->PlaybackOpen());

  // A header interval of 0 plays at 1 ms, not in a busy loop.
  header.IntervalMs = 0;
  const RtdRecord zero = header.Encode();
  testing::WriteRaw("z.rtd", std::string(zero.begin(), zero.end()));
  ASSERT_TRUE(logic->OpenPlayback("z.rtd", error, "z.rtd"));
  EXPECT_EQ(logic->PlaybackIntervalMs(), 1);
  EXPECT_EQ(logic->LastRecord(), 0);

  EXPECT_FALSE(logic->OpenPlayback("none.rtd", error, "Архив.rtd"_cp));
  EXPECT_NE(error.find("Архив.rtd"_cp), std::string::npos) << error;
  EXPECT_EQ(logic->Playing, 0);
}

TEST(GraphSlider, PositionUnderTheMouse) {
  struct Case {
    std::int32_t max;
    int width, x;
    std::int32_t want;
  };
  const Case cases[] = {
      {100, 249, 9, 0},     {100, 249, 125, 50},         {231, 249, 125, 116}, {100, 249, 0, 0},
      {100, 249, 400, 100}, {1000000, 249, 125, 502164}, {0, 249, 125, 0},     {100, 10, 125, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SliderPosition(c.max, c.width, c.x), c.want) << c.max << " " << c.width << " " << c.x;
  }
}

}  // namespace
}  // namespace kestrel
