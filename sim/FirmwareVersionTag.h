#pragma once
// The simulator's convention for the version a firmware image carries, so that a device
// reports the version of the image it holds: the text "KVVER=" and the version as the
// device reports it ("KVVER=FW:1.5.0"), ended by a NUL byte, at a fixed place of the image:
// - a card: program memory address 0x0800, where its program begins (the bootloader keeps
//   everything below);
// - a CPU: flash offset 0x200, after the vector table;
// - a web server or web content image: its first bytes.
// A device reads it when it restarts: a card when its serial side leaves the bootloader's
// setting (the tool returns the device to normal operation), a CPU when it is reset into
// its own program, the module when it has taken a web image. Without such a text the device
// reports the version it was configured with.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "core/ports/Bytes.h"

namespace kv::sim {

inline constexpr char kVersionTagPrefix[] = "KVVER=";
inline constexpr std::uint32_t kCardVersionTagAddress = 0x0800;
inline constexpr std::size_t kCpuVersionTagOffset = 0x200;
inline constexpr std::size_t kWebVersionTagOffset = 0;
// The longest version text read; a longer one is no tag.
inline constexpr std::size_t kMaxVersionText = 32;

// The tag's bytes for a version ("FW:1.5.0").
Bytes VersionTag(const std::string& version);
// The version a tag at `offset` of `memory` carries; nothing when there is none there.
std::optional<std::string> VersionTagAt(ByteView memory, std::size_t offset);
// One version above: the last run of digits counted up ("FW:1.4.0" -> "FW:1.4.1",
// "1.0.9" -> "1.0.10").
std::string NextVersion(const std::string& version);

}  // namespace kv::sim
