#pragma once

#include <string>

namespace kv {

// Unpacks the web package `archive` (a ZIP archive: "firmware.bin" and the folder
// "webcontent") below `destination`, keeping each entry's relative folder path,
// creating folders as needed and replacing existing files, read-only ones too. Files
// already there that the archive does not hold are kept.
//
// Every entry name is checked before anything is written: a package with an absolute
// entry path or one that climbs out of `destination` with ".." is refused as a whole.
// The entries' stated sizes may add up to 64 MiB at most, and an entry that inflates
// beyond its stated size is stopped there. A ZIP64 end record that claims more than the
// file holds is refused before the ZIP reader reserves memory for it. Every entry is
// unpacked next to its target and moved into place only once the whole package
// unpacked: a package that fails leaves nothing of itself (files and the folders it
// made are taken out again).
// Failures throw KvError with a text for the operator.
void UnzipWebPackage(const std::string& destination, const std::string& archive);

}  // namespace kv
