#pragma once

#include <cstdint>
#include <istream>
#include <string>

#include "core/ports/Bytes.h"

namespace kv {

// One write request: where it goes and the bytes it carries.
struct StmBlock {
    std::uint32_t address = 0;
    Bytes data;
};

// The lines of a HEX file as the STM32 programmer walks them: a current line, its
// number, and the record fields it reads with HexToInt. Fields that run past the end of
// the line or hold anything but hexadecimal digits throw KvError.
class StmHexSource {
  public:
    explicit StmHexSource(std::istream& in);

    // Reads the next line; false (and no current line) at the end of the file.
    bool advance();
    bool atEnd() const { return atEnd_; }
    const std::string& line() const { return line_; }
    int lineNumber() const { return lineNumber_; }

    int recordType() const;
    int byteCount() const;
    std::uint16_t recordAddress() const;
    // The record's data bytes; the line must hold all of them.
    Bytes recordData() const;
    // Value of positions 10-13, the upper address of a type 4 record.
    std::uint16_t upperAddress() const;

  private:
    int field(std::size_t position, std::size_t digits) const;

    std::istream& in_;
    std::string line_;
    int lineNumber_ = 0;
    bool atEnd_ = false;
};

}  // namespace kv
