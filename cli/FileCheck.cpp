// kvboot check: what a firmware file is, and for a HEX file whether the upgrade takes it.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

#include "cli/DeviceSession.h"
#include "cli/Json.h"
#include "cli/Versions.h"
#include "core/Sha256.h"
#include "firmware/HexFile.h"
#include "flash/HidBootloader.h"
#include "upgrade/UpgradeRows.h"

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

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// Why the upgrade of a row named `row` would refuse the file `check` describes, found
// without the device; empty when it would not.
std::string refusalFor(const RowFile& file, const FileCheck& check, TargetKind kind,
                       const std::string& usbProduct) {
    if (!check.refusal.empty()) return check.refusal;
    const bool hex = *check.kind == FileKind::IntelHex;
    if (kind == TargetKind::Usb) {
        if (!hex)
            return "a USB device takes a " + std::string(Describe(FileKind::IntelHex).extension) +
                   " file";
        if (usbProduct.empty()) return {};
        std::string refusal = HidFileRefusal(file.path, usbProduct);
        while (!refusal.empty() && (refusal.back() == '\n' || refusal.back() == '\r'))
            refusal.pop_back();
        return refusal;
    }
    if (IsRowNumber(file.row)) return {};
    const std::vector<FileKind> kinds = FileKindsForRowType(file.row);
    if (std::find(kinds.begin(), kinds.end(), *check.kind) == kinds.end()) {
        std::string wanted;
        for (FileKind k : kinds)
            wanted += (wanted.empty() ? "" : " or ") + std::string(Describe(k).extension);
        return "the row takes a " + wanted + " file";
    }
    // kvboot takes a row's name in any case; the type the file names is compared as the
    // upgrade compares it (the raw bytes never reach the terminal).
    if (hex && RowChecksFileIdentity(upper(file.row)) &&
        !ControllerTypeFits(upper(check.controllerType), upper(file.row))) {
        return "Invalid controller type info for " + file.row + " (" +
               EscapedText(check.controllerType) + ")";
    }
    return {};
}

}  // namespace

FilesCheck CheckFilesBeforeConnect(const std::vector<RowFile>& files, TargetKind kind,
                                   const std::string& usbProduct) {
    for (const RowFile& file : files) {
        const std::string row = "the file for row \"" + file.row + "\" ";
        const FileCheck check = CheckFile(file.path);
        if (!check.result.ok()) {
            std::error_code ec;
            const bool exists = std::filesystem::exists(file.path, ec);
            return {{SessionError::BadInput,
                     row + (exists ? "cannot be read: " : "does not exist: ") + file.path},
                    ExitStatus::Usage};
        }
        // A pinned file that is not the one pinned is not looked at further: whatever it
        // is, it is not the file the operator meant.
        if (!file.sha256.empty() && !SameSha256(check.sha256, file.sha256)) {
            return {{SessionError::BadInput, row + "is refused: " + file.path + ": " +
                                                 PinMismatchText(check.sha256, file.sha256)},
                    ExitStatus::FileRefused};
        }
        const std::string refusal = refusalFor(file, check, kind, usbProduct);
        if (!refusal.empty()) {
            return {{SessionError::BadInput, row + "is refused: " + file.path + ": " + refusal},
                    ExitStatus::FileRefused};
        }
    }
    return {};
}

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
