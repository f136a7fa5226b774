#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// The kinds of firmware file a controller row takes. The file dialog's filter, kvboot's
// choice of a file for a row and its file check all read this one table.
enum class FileKind {
    IntelHex,       // microcontroller firmware (PIC cards, STM32 CPUs, USB devices)
    WebServerRom,   // the network module's web server image
    WebServerRo5,   // ... for modules whose address starts 00-8x
    WebContentCob,  // the network module's web content image
    WebPackageKvp,  // a ZIP of firmware.bin and the web content, uploaded by TFTP and FTP
};

struct FileKindInfo {
    FileKind kind;
    std::string_view extension;    // with its dot, lower case
    std::string_view description;  // the file dialog's description
};

const FileKindInfo& Describe(FileKind kind);
// Every kind, in the table's order.
std::span<const FileKindInfo> FileKinds();
// The kind a row of this controller type takes on a device with this MAC address.
FileKind FileKindForRow(const std::string& controllerType, const std::string& mac);
// The kinds a row of this controller type (in any case) may take on some device: both web
// server images for a web server row, whose kind only the module's address decides.
std::vector<FileKind> FileKindsForRowType(const std::string& controllerType);
// The kind a file's extension names (case-insensitive); nullopt for any other extension.
std::optional<FileKind> FileKindOfPath(const std::string& path);
// "Description (*.ext)|*.ext", as the open-file dialog takes it.
std::string FileDialogFilter(FileKind kind);

}  // namespace kv
