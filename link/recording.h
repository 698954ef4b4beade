// Response frames appended to the graphs window's recording file.
//
// While recording is on and the file exists, every ECU response frame is
// appended as one 38-byte record: the frame from its format (or header) byte
// to its checksum, then zero bytes up to 38. A frame longer than 38 bytes
// keeps its first 38 bytes (no response the program decodes is that long).
// The file is opened, extended by one record and closed for every frame; it
// is never created here - it belongs to the graphs window.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrel {

inline constexpr std::size_t kRecordFrameSize = 38;

using FrameRecord = std::array<std::uint8_t, kRecordFrameSize>;

FrameRecord MakeFrameRecord(const std::uint8_t* frame, std::size_t count);

// Appends one record to an existing file; false when the file does not exist
// or cannot be written.
bool AppendFrameRecord(const std::string& fileName, const std::uint8_t* frame, std::size_t count);

}  // namespace kestrel
