#pragma once
// Firmware versions as the device reports them ("FW:1.5.0"), as an operator writes them
// ("1.5.0") and as file names carry them ("RV-PNL16-1.5.0.hex"), and pinned file digests.
#include <string>

namespace kv::cli {

// The version a file name clearly carries: the last group of at least two dot-separated
// runs of digits or hex letters, standing apart from the rest of the name (the extension
// left out): "RV-PNL16-1.4.0.hex" -> "1.4.0", "web-server-6.B.0.rom" -> "6.B.0",
// "RV-PNL16.hex" -> "". Folders are not read.
std::string VersionInFileName(const std::string& path);

// A version in the form the device reports it: a version given without the device's
// prefix ("1.5.0" for a device that says "FW:1.4.0") gets it; one with a prefix of its
// own stays as it is.
std::string InDeviceForm(const std::string& version, const std::string& deviceVersion);

// Whether `version` (in either form) is what the device reports, letters in any case.
bool SameVersion(const std::string& version, const std::string& deviceVersion);

// The reasons a row gets from its versions.
std::string AlreadyAtReason(const std::string& deviceVersion);
std::string ReadBackMismatchReason(const std::string& readBack, const std::string& expected);

// 64 hex digits (a SHA-256 digest as sha256sum prints it, any case).
bool IsSha256Hex(const std::string& text);

// Whether a file's digest is the pinned one (hex digits in any case); an unread file's
// (empty) digest is none.
bool SameSha256(const std::string& actual, const std::string& pinned);
// Why a pinned file is refused: both digests.
std::string PinMismatchText(const std::string& actual, const std::string& pinned);

}  // namespace kv::cli
