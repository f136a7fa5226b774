#pragma once
// SHA-256 digests of firmware files: what a pinned file must match and what the upgrade
// history records of the file that was written.
#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace kv {

class Sha256 {
  public:
    Sha256();
    void add(std::span<const uint8_t> bytes);
    std::array<uint8_t, 32> finish();

  private:
    void block(const uint8_t* p);
    std::array<uint32_t, 8> h_;
    std::array<uint8_t, 64> buf_{};
    std::size_t used_ = 0;
    uint64_t total_ = 0;
};

// Lower-case hex of the digest of these bytes.
std::string Sha256Hex(std::span<const uint8_t> bytes);
// Lower-case hex of the digest of a file's contents, or nothing when it cannot be read.
std::optional<std::string> FileSha256Hex(const std::filesystem::path& path);

}  // namespace kv
