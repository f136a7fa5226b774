// The Intel HEX integrity check and the reader's passes on an arbitrary file, as an
// operator might pick a damaged or foreign one.
#include <algorithm>
#include <sstream>
#include <string>

#include "FuzzCheck.h"
#include "FuzzRig.h"
#include "firmware/HexFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string file(reinterpret_cast<const char*>(data), size);
    // Every line ends at a CR, an LF or a CR LF.
    const auto lineBreaks = static_cast<int>(
        std::count_if(file.begin(), file.end(), [](char c) { return c == '\n' || c == '\r'; }));

    const kv::fuzz::FreshRun run;
    kv::test::FakeRig& rig = run.rig;
    rig.state.HexControllerType.clear();
    rig.state.HexHardwareInfo.clear();
    rig.state.HexFileOpened = false;
    kv::HexReaderState reader;

    std::istringstream check(file);
    const bool ok = kv::CheckHexFile(rig.ctx, reader, check);
    // Never counts more lines than the file has; a file that passed has at least one.
    FUZZ_CHECK(reader.HexLineCount >= 0 && reader.HexLineCount <= lineBreaks + 1);
    if (ok) FUZZ_CHECK(reader.HexLineCount >= 1);

    std::istringstream scan(file);
    const int scanResult = kv::ProcessHexFile(rig.ctx, reader, kv::kHexInformationScan, scan);
    FUZZ_CHECK(scanResult == 0 || scanResult == 1);
    // The texts come from one record's data: a record carries at most 255 bytes.
    FUZZ_CHECK(rig.state.HexControllerType.size() <= 255);
    FUZZ_CHECK(rig.state.HexHardwareInfo.size() <= 255);
    FUZZ_CHECK(rig.state.HexControllerType.find('\0') == std::string::npos);

    std::istringstream program(file);
    std::size_t records = 0;
    const int programResult = kv::ProcessHexFile(
        rig.ctx, reader, kv::kHexProgrammingPass, program, [&](const kv::HexDataRecord& r) {
            ++records;
            FUZZ_CHECK(r.data.size() <= 255);
            FUZZ_CHECK(
                r.memoryClass == kv::kHexClassNone || r.memoryClass == kv::kHexClassProgram ||
                r.memoryClass == kv::kHexClassEeprom || r.memoryClass == kv::kHexClassConfig);
        });
    FUZZ_CHECK(programResult == 0 || programResult == 1);
    // The scan decides whether a PIC file is used: a file it read to its end is also
    // programmed to its end. (The integrity check, which gates the STM32 files, looks at
    // neither addresses nor data, so an address record of the wrong length passes it.)
    FUZZ_CHECK(programResult == scanResult);
    FUZZ_CHECK(records <= static_cast<std::size_t>(lineBreaks) + 1);
    return 0;
}
