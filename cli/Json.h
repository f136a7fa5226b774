#pragma once

#include <string_view>

#include <nlohmann/json.hpp>

#include "cli/DeviceSession.h"

namespace kv::cli {

// kvboot's --json output. The field names are stable: scripts read them (README "kvboot").
using Json = nlohmann::ordered_json;

Json ToJson(const ControllerRow& row);
Json ToJson(const DeviceInfo& device);
// {"row", "type", "file", "state", "reason", "bytes", "seconds", "from", "to", "expected"}
Json ToJson(const RowResult& row);
// {"status", "success", "verdict", "interrupted", "changed", "end", "refusal", "rows", "report",
//  "retransmissions", "rewrites", "seconds", "error"}
Json ToJson(const UpgradeOutcome& outcome);
Json ToJson(const DiscoveryResult& result);
// A run journal entry: {"device", "kind", "row", "stopped_at", "changes", "message"};
// a recovery adds "restored" and its own "message".
Json ToJson(const JournalEntry& entry);
Json ToJson(const ops::Recovery& recovery);
// "2026-01-31T03:45:00Z" of seconds since the epoch.
std::string IsoTime(std::int64_t seconds);
// {"file", "status", "kind", "description", "size", "integrity", "fault", "refusal",
//  "controller_type", "hardware", "records", "data_bytes", "sha256", "error"}: null where the file
// gave no value (README "kvboot").
Json ToJson(const FileCheck& check, const std::string& path);
// "intel-hex", "web-server-image", "web-content-image", "web-package".
std::string FileKindName(FileKind kind);
// Text read from a file or a device, fit for a terminal: every byte that is no printable
// ASCII character is written \xNN, a backslash as \\.
std::string EscapedText(std::string_view text);
// {"code": "not-found" | ..., "message": text}; null for no error.
Json ErrorJson(const SessionResult& result);
std::string SessionErrorName(SessionError error);

// The document of a command that ended before its work began (bad arguments, a missing
// file, a bad plan): {"status", "exit", "error": {"code", "message"}}.
Json FailureJson(ExitStatus status, const SessionResult& error);

// A text, or null when it is empty (absent values are null, never "").
Json TextOrNull(const std::string& text);

// One document on one line, as written to standard output.
std::string Dump(const Json& document);

}  // namespace kv::cli
