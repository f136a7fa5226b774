#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kv {

// The "Handle as" choices: connect to a listed device as a given type without asking it
// (or asking it less). One table serves the window's pop-up menu, the operations and kvboot.
enum class HandleAs { RvCtl2, HqlxFbr, NrvFkTwSn500, NrvTwSn500s, Rv6x6Max, Nrv5x5, LnkFbrRc330 };

struct HandleAsChoice {
    HandleAs id;
    std::string_view name;  // the type as the menu names it
    bool network;           // an entry of the network list (else of the COM port list)
};

// Every choice, in the menu's order.
std::span<const HandleAsChoice> HandleAsChoices();
const HandleAsChoice& Describe(HandleAs id);
// The menu caption: "Handle as <name>".
std::string HandleAsCaption(HandleAs id);
// By name, case-insensitive; nullopt for an unknown name.
std::optional<HandleAs> HandleAsByName(std::string_view name);

}  // namespace kv
