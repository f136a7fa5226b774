#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "core/ports/Bytes.h"

namespace kv::sim {

// The address space an STM32F10x system bootloader lets a host reach: main flash,
// SRAM, the system memory holding the bootloader itself and the option bytes.
class Stm32Memory {
  public:
    static constexpr std::uint32_t kFlashBase = 0x08000000;
    static constexpr std::uint32_t kRamBase = 0x20000000;
    static constexpr std::uint32_t kSystemBase = 0x1FFFF000;
    static constexpr std::uint32_t kOptionBase = 0x1FFFF800;
    static constexpr std::size_t kSystemSize = 2048;
    static constexpr std::size_t kOptionSize = 16;

    enum class WriteResult { Ok, OutOfRange, NotErased };

    // Medium density parts: 1 KiB pages; flash erased (all 0xFF) at delivery.
    explicit Stm32Memory(std::size_t flashSize = 128 * 1024, std::size_t ramSize = 20 * 1024,
                         std::size_t pageSize = 1024);

    bool readable(std::uint32_t address, std::size_t count) const;
    bool writable(std::uint32_t address, std::size_t count) const;
    std::optional<Bytes> read(std::uint32_t address, std::size_t count) const;
    // Flash half-words can only be programmed from the erased state (or to 0x0000), as
    // on the chip; nothing of a refused write is stored.
    WriteResult write(std::uint32_t address, ByteView data);
    void eraseAll();
    bool erasePage(std::size_t page);

    std::size_t flashSize() const { return flash_.size(); }
    std::size_t pageSize() const { return pageSize_; }
    std::size_t pageCount() const { return flash_.size() / pageSize_; }
    const Bytes& flash() const { return flash_; }
    // The byte at a flash address (0xFF outside the flash).
    std::uint8_t flashByte(std::uint32_t address) const;

  private:
    Bytes* region(std::uint32_t address, std::size_t count, std::uint32_t& offset);
    const Bytes* region(std::uint32_t address, std::size_t count, std::uint32_t& offset) const;

    Bytes flash_;
    Bytes ram_;
    Bytes system_;
    Bytes options_;
    std::size_t pageSize_;
};

}  // namespace kv::sim
