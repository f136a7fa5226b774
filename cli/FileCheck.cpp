// kvboot check: what a firmware file is, and for a HEX file whether the upgrade takes it.
#include <filesystem>
#include <fstream>

#include "cli/DeviceSession.h"
#include "core/Sha256.h"
#include "firmware/HexFile.h"

namespace kv::cli {

namespace {

constexpr const char* kNoDataRecords = "no data records";

// The integrity check, the information scan and the data records, as the upgrade reads
// the file.
void checkHex(std::istream& in, FileCheck& check) {
    const HexIntegrity integrity = TestHexLines(in);
    if (!integrity.ok()) {
        check.faultLine = integrity.fault->line;
        check.fault = integrity.fault->failure;
        check.refusal = "Line " + std::to_string(check.faultLine) + ": " + check.fault;
        return;
    }
    in.clear();
    in.seekg(0);
    HexReaderState reader;
    HexIdentification identification;
    std::optional<HexFault> fault;
    try {
        fault = WalkHexRecords(in, reader, {}, [&](const HexDataRecord& record) {
            ScanHexIdentification(record, identification);
            check.dataBytes += record.data.size();
            ++check.records;
        });
    } catch (const std::exception& e) {
        fault = HexFault{0, e.what()};
    }
    if (fault) {
        // Sound lines that do not make a sound record (an address record of the wrong length).
        check.faultLine = fault->line;
        check.fault = fault->failure;
        check.refusal = "Line " + std::to_string(check.faultLine) + ": " + check.fault;
        return;
    }
    check.checksumOk = true;
    check.controllerType = identification.controllerType;
    check.hardware = identification.hardwareInfo;
    // Such a file would pass every check and leave the card erased.
    if (check.records == 0) check.refusal = kNoDataRecords;
}

}  // namespace

ExitStatus FileCheck::status() const {
    return result.ok() && refusal.empty() ? ExitStatus::Ok : ExitStatus::FileRefused;
}

FileCheck CheckFile(const std::string& path) {
    FileCheck check;
    std::error_code ec;
    std::ifstream in(path, std::ios::binary);
    const auto size = std::filesystem::file_size(path, ec);
    if (!std::filesystem::is_regular_file(path, ec) || !in || ec) {
        check.result = {SessionError::BadInput, "cannot read the file " + path};
        check.refusal = check.result.message;
        return check;
    }
    check.size = size;
    check.sha256 = FileSha256Hex(path).value_or("");
    check.kind = FileKindOfPath(path);
    if (!check.kind) {
        std::string known;
        for (const FileKindInfo& info : FileKinds())
            known += (known.empty() ? "" : ", ") + std::string(info.extension);
        check.refusal = "no firmware file kvboot knows (known: " + known + ")";
        return check;
    }
    // Images and packages go to the device as they are: only HEX files are read here.
    if (*check.kind == FileKind::IntelHex) checkHex(in, check);
    return check;
}

}  // namespace kv::cli
