#pragma once

namespace kv {

// State of the HEX reader that outlives one pass; the caller keeps one for the whole run of
// the program.
struct HexReaderState {
    // Memory class of the data records that follow, as the PIC write command that programs
    // them: 2 program memory, 5 data EEPROM, 7 configuration, 0 before the first extended
    // linear address record. Reset when a pass starts.
    int HexWriteCommand = 0;
    // Lines read by the last integrity check (the STM32 programmer's progress divides by it).
    int HexLineCount = 0;
};

}  // namespace kv
