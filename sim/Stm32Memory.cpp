#include "Stm32Memory.h"

#include <algorithm>
#include <utility>

namespace kv::sim {

Stm32Memory::Stm32Memory(std::size_t flashSize, std::size_t ramSize, std::size_t pageSize)
    : flash_(flashSize, 0xFF),
      ram_(ramSize, 0x00),
      system_(kSystemSize, 0x00),
      // Factory option bytes: read-out protection off (RDP A5 5A), nothing write protected.
      options_{0xA5, 0x5A, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00,
               0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00},
      pageSize_(pageSize) {
    // Something recognisable where the bootloader's own code would be.
    for (std::size_t i = 0; i < system_.size(); ++i) system_[i] = static_cast<std::uint8_t>(i * 7);
}

const Bytes* Stm32Memory::region(std::uint32_t address, std::size_t count,
                                 std::uint32_t& offset) const {
    struct Area {
        std::uint32_t base;
        const Bytes* bytes;
    };
    const Area areas[] = {{kFlashBase, &flash_},
                          {kRamBase, &ram_},
                          {kSystemBase, &system_},
                          {kOptionBase, &options_}};
    for (const auto& area : areas) {
        if (address < area.base) continue;
        std::uint64_t end = std::uint64_t(address) + count;
        if (end <= std::uint64_t(area.base) + area.bytes->size()) {
            offset = address - area.base;
            return area.bytes;
        }
    }
    return nullptr;
}

Bytes* Stm32Memory::region(std::uint32_t address, std::size_t count, std::uint32_t& offset) {
    return const_cast<Bytes*>(std::as_const(*this).region(address, count, offset));
}

bool Stm32Memory::readable(std::uint32_t address, std::size_t count) const {
    std::uint32_t offset = 0;
    return region(address, count, offset) != nullptr;
}

bool Stm32Memory::writable(std::uint32_t address, std::size_t count) const {
    // The bootloader refuses writes into its own system memory; option bytes need
    // their own erase sequence and are not offered here.
    std::uint32_t offset = 0;
    const Bytes* area = region(address, count, offset);
    return area == &flash_ || area == &ram_;
}

std::optional<Bytes> Stm32Memory::read(std::uint32_t address, std::size_t count) const {
    std::uint32_t offset = 0;
    const Bytes* area = region(address, count, offset);
    if (!area) return std::nullopt;
    return Bytes(area->begin() + offset, area->begin() + offset + count);
}

Stm32Memory::WriteResult Stm32Memory::write(std::uint32_t address, ByteView data) {
    if (!writable(address, data.size())) return WriteResult::OutOfRange;
    std::uint32_t offset = 0;
    Bytes* area = region(address, data.size(), offset);
    if (area == &flash_) {
        // The flash programs half-words, and only erased ones (0xFFFF); the one value that
        // may go over programmed bits is 0x0000 (STM32F10x reference manual RM0008, flash
        // programming: otherwise the write is skipped and PGERR set).
        if (offset % 2 != 0 || data.size() % 2 != 0) return WriteResult::NotErased;
        for (std::size_t i = 0; i < data.size(); i += 2) {
            const bool erased = flash_[offset + i] == 0xFF && flash_[offset + i + 1] == 0xFF;
            const bool zero = data[i] == 0x00 && data[i + 1] == 0x00;
            if (!erased && !zero) return WriteResult::NotErased;
        }
    }
    std::copy(data.begin(), data.end(), area->begin() + offset);
    return WriteResult::Ok;
}

void Stm32Memory::eraseAll() {
    std::fill(flash_.begin(), flash_.end(), 0xFF);
}

bool Stm32Memory::erasePage(std::size_t page) {
    if (page >= pageCount()) return false;
    auto first = flash_.begin() + static_cast<std::ptrdiff_t>(page * pageSize_);
    std::fill(first, first + static_cast<std::ptrdiff_t>(pageSize_), 0xFF);
    return true;
}

std::uint8_t Stm32Memory::flashByte(std::uint32_t address) const {
    if (address < kFlashBase || address - kFlashBase >= flash_.size()) return 0xFF;
    return flash_[address - kFlashBase];
}

}  // namespace kv::sim
