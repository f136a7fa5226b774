#include "core/FileKinds.h"

#include <algorithm>
#include <cctype>

namespace kv {

namespace {

constexpr FileKindInfo kFileKinds[] = {
    {FileKind::IntelHex, ".hex", "Intel Hex file"},
    {FileKind::WebServerRom, ".rom", "Web Server image"},
    {FileKind::WebServerRo5, ".ro5", "Web Server image"},
    {FileKind::WebContentCob, ".cob", "Web Content image"},
    {FileKind::WebPackageKvp, ".kvp", "Korvandel Package"},
};

constexpr std::string_view kWebServerRow = "Web Server";

// The image rows by their controller type; every other row takes a HEX file.
struct ImageRow {
    std::string_view type;
    FileKind kind;
};
constexpr ImageRow kImageRows[] = {
    {"Web Content", FileKind::WebContentCob},
    {"Web Package", FileKind::WebPackageKvp},
};

bool SameText(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y) {
        return std::tolower(x) == std::tolower(y);
    });
}

}  // namespace

const FileKindInfo& Describe(FileKind kind) {
    return *std::find_if(std::begin(kFileKinds), std::end(kFileKinds),
                         [kind](const FileKindInfo& info) { return info.kind == kind; });
}

std::span<const FileKindInfo> FileKinds() {
    return kFileKinds;
}

FileKind FileKindForRow(const std::string& controllerType, const std::string& mac) {
    if (controllerType == kWebServerRow) {
        // Modules with an address 00-8x-... take the .ro5 image.
        return mac.size() >= 4 && mac[3] == '8' ? FileKind::WebServerRo5 : FileKind::WebServerRom;
    }
    for (const ImageRow& row : kImageRows)
        if (controllerType == row.type) return row.kind;
    return FileKind::IntelHex;
}

std::vector<FileKind> FileKindsForRowType(const std::string& controllerType) {
    if (SameText(controllerType, kWebServerRow))
        return {FileKind::WebServerRom, FileKind::WebServerRo5};
    for (const ImageRow& row : kImageRows)
        if (SameText(controllerType, row.type)) return {row.kind};
    return {FileKind::IntelHex};
}

std::optional<FileKind> FileKindOfPath(const std::string& path) {
    const auto dot = path.find_last_of('.');
    const auto slash = path.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string extension = path.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const FileKindInfo& info : kFileKinds)
        if (info.extension == extension) return info.kind;
    return {};
}

std::string FileDialogFilter(FileKind kind) {
    const FileKindInfo& info = Describe(kind);
    const std::string pattern = "*" + std::string(info.extension);
    return std::string(info.description) + " (" + pattern + ")|" + pattern;
}

}  // namespace kv
