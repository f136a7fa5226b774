// What the command line names: targets, "Handle as" types, questions, statuses.
#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

#include "cli/Commands.h"
#include "cli/DeviceSession.h"

namespace kv::cli {

namespace {

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool startsWith(const std::string& text, std::string_view prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::optional<int> number(std::string_view text, int lowest, int highest) {
    int value = 0;
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
    if (value < lowest || value > highest) return std::nullopt;
    return value;
}

bool isIPv4(const std::string& text) {
    int parts = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t dot = text.find('.', start);
        const std::string_view part = std::string_view(text).substr(
            start, dot == std::string::npos ? text.npos : dot - start);
        if (part.size() > 3 || !number(part, 0, 255)) return false;
        ++parts;
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    return parts == 4;
}

}  // namespace

std::optional<Target> ParseTarget(const std::string& text, std::string& error) {
    Target target;
    target.text = text;
    if (text.empty()) {
        error = "no target given";
        return std::nullopt;
    }
    if (startsWith(lower(text), "usb:")) {
        const std::string rest = text.substr(4);
        const auto colon = rest.rfind(':');
        target.kind = TargetKind::Usb;
        target.address = colon == std::string::npos ? rest : rest.substr(colon + 1);
        if (colon != std::string::npos) target.product = rest.substr(0, colon);
        if (target.address.empty()) {
            error =
                "\"" + text + "\" names no USB serial number (usb:SERIAL or usb:PRODUCT:SERIAL)";
            return std::nullopt;
        }
        return target;
    }
    if (startsWith(lower(text), "serial:")) {
        target.kind = TargetKind::Serial;
        target.address = text.substr(7);
        if (target.address.empty()) {
            error = "\"" + text + "\" names no serial port";
            return std::nullopt;
        }
        return target;
    }
    const auto colon = text.find(':');
    const std::string host = text.substr(0, colon);
    if (isIPv4(host)) {
        target.kind = TargetKind::Network;
        target.address = host;
        if (colon != std::string::npos) {
            const std::optional<int> port =
                number(std::string_view(text).substr(colon + 1), 1, 65535);
            if (!port) {
                error = "\"" + text + "\": the tunnel port must be a number from 1 to 65535";
                return std::nullopt;
            }
            target.tunnelPort = *port;
        }
        return target;
    }
    // Something that looks like an address but is none is a typing error, not a port name.
    if (std::all_of(host.begin(), host.end(),
                    [](unsigned char c) { return std::isdigit(c) || c == '.'; })) {
        error = "\"" + text + "\" is no IPv4 address";
        return std::nullopt;
    }
    target.kind = TargetKind::Serial;
    target.address = text;
    return target;
}

std::optional<HandleAs> ParseHandleAs(const std::string& name) {
    return HandleAsByName(name);
}

std::string HandleAsNameList() {
    std::string names;
    for (const HandleAsChoice& choice : HandleAsChoices())
        names += (names.empty() ? "" : ", ") + std::string(choice.name);
    return names;
}

std::vector<QuestionId> QuestionIdsOf(Question answer) {
    switch (answer) {
        case Question::Upgrade:
            return {QuestionId::ConfirmUpgrade};
        case Question::ProtocolSwitch:
            return {QuestionId::ProtocolSwitch};
        case Question::UnreachableDevice:
            return {QuestionId::ReleaseUnreachable, QuestionId::RestoreUnreachable};
        case Question::UsbBootloaderMode:
            return {QuestionId::UsbUpgradeMode};
    }
    return {};
}

std::string FlagFor(QuestionId question) {
    switch (question) {
        case QuestionId::ConfirmUpgrade:
        case QuestionId::UsbUpgradeMode:
            return "--yes";
        case QuestionId::ProtocolSwitch:
            return "--switch-protocol";
        case QuestionId::ReleaseUnreachable:
        case QuestionId::RestoreUnreachable:
            return "--release-unreachable";
        default:
            return {};
    }
}

std::string_view PhaseName(ProgressPhase phase) {
    switch (phase) {
        case ProgressPhase::Connecting:
            return "connecting";
        case ProgressPhase::Erasing:
            return "erasing";
        case ProgressPhase::Programming:
            return "programming";
        case ProgressPhase::Verifying:
            return "verifying";
        case ProgressPhase::Uploading:
            return "uploading";
        case ProgressPhase::Restoring:
            return "restoring";
    }
    return "programming";
}

ExitStatus StatusOf(SessionError error) {
    switch (error) {
        case SessionError::None:
            return ExitStatus::Ok;
        case SessionError::NotFound:
        case SessionError::Unreachable:
            return ExitStatus::Unreachable;
        case SessionError::BadInput:
        case SessionError::Question:
            return ExitStatus::Usage;
        case SessionError::Interrupted:
            return ExitStatus::Interrupted;
        case SessionError::Failed:
            return ExitStatus::RowFailed;
    }
    return ExitStatus::RowFailed;
}

ExitStatus UpgradeOutcome::status() const {
    if (interrupted || result.error == SessionError::Interrupted) return ExitStatus::Interrupted;
    if (!result.ok()) return StatusOf(result.error);
    return run.success() ? ExitStatus::Ok : ExitStatus::RowFailed;
}

bool IsRowNumber(const std::string& row) {
    return !row.empty() &&
           std::all_of(row.begin(), row.end(), [](unsigned char c) { return std::isdigit(c); });
}

std::optional<FileChoice> ParseFileChoice(const std::string& text) {
    const auto equals = text.find('=');
    if (equals == std::string::npos) return std::nullopt;
    FileChoice choice;
    choice.row = text.substr(0, equals);
    choice.path = text.substr(equals + 1);
    // Blanks around the row name come from quoting in scripts; a path keeps its own.
    const auto first = choice.row.find_first_not_of(" \t");
    const auto last = choice.row.find_last_not_of(" \t");
    choice.row = first == std::string::npos ? "" : choice.row.substr(first, last - first + 1);
    if (choice.row.empty() || choice.path.empty()) return std::nullopt;
    return choice;
}

}  // namespace kv::cli
