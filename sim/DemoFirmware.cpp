#include "DemoFirmware.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

#include "FirmwareVersionTag.h"
#include "HexBytes.h"
#include "NetworkModule.h"

namespace kv::sim {

namespace {

constexpr std::uint32_t kTypeInfoAddress = 0x0600;
constexpr std::uint32_t kHardwareInfoAddress = 0x0710;
constexpr std::size_t kInfoFieldLength = 16;
constexpr std::size_t kRecordBytes = 16;
const std::string kWebServerRow = "Web Server";
// The demo modules' MAC addresses (00-20-...) take the first web server image kind.
const std::string kWebServerFile = "web-server";
const std::string kWebServerExtension = ".rom";
const std::string kWebContentRow = "Web Content";
const std::string kWebContentFile = "web-content";
const std::string kWebContentExtension = ".cob";
const std::string kReportedPrefix = "FW:";

Bytes infoField(const std::string& text) {
    Bytes field(kInfoFieldLength, 0x00);
    std::copy_n(text.begin(), std::min(text.size(), kInfoFieldLength), field.begin());
    return field;
}

// Deterministic bytes per controller, so two cards never get the same image.
Bytes sampleBytes(const std::string& seedText, std::size_t count) {
    std::uint32_t state = 2166136261u;
    for (char c : seedText) state = (state ^ static_cast<std::uint8_t>(c)) * 16777619u;
    Bytes bytes(count);
    for (auto& b : bytes) {
        state = state * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(state >> 16);
    }
    return bytes;
}

// Sample bytes with the version tag at `offset`.
Bytes taggedBytes(const std::string& seedText, std::size_t count, std::size_t offset,
                  const std::string& version) {
    Bytes bytes = sampleBytes(seedText, count);
    const Bytes tag = VersionTag(version);
    std::copy(tag.begin(), tag.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
    return bytes;
}

// "RV-PNL16" + "FW:1.4.1" + ".hex" -> "RV-PNL16-1.4.1.hex".
std::string fileName(const std::string& stem, const std::string& version,
                     const std::string& extension) {
    const std::string bare =
        version.rfind(kReportedPrefix, 0) == 0 ? version.substr(kReportedPrefix.size()) : version;
    return stem + "-" + bare + extension;
}

std::string cardImage(const CardWords& words, const std::string& version) {
    // Program memory from address 0 of the lowest 64 KiB.
    std::string hex = HexRecordLine(4, 0, Bytes{0x00, 0x00}) + "\r\n";
    hex += HexRecordLine(0, kTypeInfoAddress, infoField(words.type)) + "\r\n";
    hex += HexRecordLine(0, kHardwareInfoAddress, infoField(words.hardware)) + "\r\n";
    const Bytes program = taggedBytes(words.type, kDemoProgramBytes,
                                      kCardVersionTagAddress - kDemoProgramStart, version);
    for (std::size_t at = 0; at < program.size(); at += kRecordBytes) {
        hex += HexRecordLine(0, static_cast<std::uint16_t>(kDemoProgramStart + at),
                             ByteView(program).subspan(at, kRecordBytes)) +
               "\r\n";
    }
    return hex + HexRecordLine(1, 0, {}) + "\r\n";
}

}  // namespace

std::vector<DemoFirmwareFile> DemoFirmwareFiles(DemoFamily family) {
    std::vector<DemoFirmwareFile> files;
    if (!IsUpgradableFamily(family)) return files;
    for (const CardWords& words : DemoFamilyCards(family)) {
        const std::string version = NextVersion(words.firmware);
        files.push_back({words.type, fileName(words.type, version, ".hex"),
                         cardImage(words, version), version});
    }
    // The module's version is two hex bytes: the next one counts up the second.
    const NetworkModule::Config module;
    const std::string server =
        kReportedPrefix + NetworkModule::versionText(
                              module.versionHigh, static_cast<std::uint8_t>(module.versionLow + 1));
    const Bytes web = taggedBytes(kWebServerRow, kDemoWebImageBytes, kWebVersionTagOffset, server);
    files.push_back({kWebServerRow, fileName(kWebServerFile, server, kWebServerExtension),
                     std::string(web.begin(), web.end()), server});
    if (HasWebContentRow(family)) {
        const std::string version = NextVersion(kReportedPrefix + kDemoContentVersion);
        const Bytes content =
            taggedBytes(kWebContentRow, kDemoWebImageBytes, kWebVersionTagOffset, version);
        files.push_back({kWebContentRow, fileName(kWebContentFile, version, kWebContentExtension),
                         std::string(content.begin(), content.end()), version});
    }
    return files;
}

std::vector<std::filesystem::path> WriteDemoFirmware(DemoFamily family,
                                                     const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    std::vector<std::filesystem::path> paths;
    for (const DemoFirmwareFile& file : DemoFirmwareFiles(family)) {
        const std::filesystem::path path = folder / file.fileName;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << file.content;
        if (!out) throw std::runtime_error("cannot write " + path.string());
        paths.push_back(path);
    }
    return paths;
}

}  // namespace kv::sim
