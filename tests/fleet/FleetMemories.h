#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace kv::test {

// What kvsim --dump wrote for one device, checked against the files the plan gave it: each
// card's program memory from the first address the tool writes up to the end equals the
// HEX file (erased bytes where the file has none), each TFTP image equals its file.
// `files` maps a row (a controller type, "Web Server", "Web Content") to its file.
// Returns the problems found; empty when every memory equals its file.
std::vector<std::string> MemoryProblems(const std::filesystem::path& dumpFolder,
                                        const std::string& address,
                                        const std::map<std::string, std::string>& files);

// Problems with the device's state after the run: it must be back in normal operation
// (main controller selected, serial side at 9600 8N1, bootloader mode off).
std::vector<std::string> RestoreProblems(const std::filesystem::path& dumpFolder,
                                         const std::string& address);

// What the device's module took in from the tool, as kvsim --dump counts it (0: the device
// was never contacted); -1 when no state was dumped.
long DumpedContacts(const std::filesystem::path& dumpFolder, const std::string& address);

// kvsim's sample plan: device address -> (row -> absolute file path).
std::map<std::string, std::map<std::string, std::string>> SamplePlanFiles(
    const std::filesystem::path& planFile);

}  // namespace kv::test
