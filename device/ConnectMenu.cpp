#include <algorithm>
#include <array>
#include <cctype>

#include "device/Connect.h"
#include "device/ConnectSteps.h"
#include "device/HandleAs.h"

namespace kv {

namespace {

constexpr std::array<HandleAsChoice, 7> kHandleAsChoices{{
    {HandleAs::RvCtl2, "RV-CTL2", true},
    {HandleAs::HqlxFbr, "HQLX-FBR", false},
    {HandleAs::NrvFkTwSn500, "NRV-FK-TW-SN500", false},
    {HandleAs::NrvTwSn500s, "NRV-TW-SN500S", false},
    {HandleAs::Rv6x6Max, "RV6x6-2WQRI-Max", true},
    {HandleAs::Nrv5x5, "NRV5x5", true},
    {HandleAs::LnkFbrRc330, "LNK-FBR-RC-330", false},
}};

bool sameName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y) {
        return std::tolower(x) == std::tolower(y);
    });
}

}  // namespace

std::span<const HandleAsChoice> HandleAsChoices() {
    return kHandleAsChoices;
}

const HandleAsChoice& Describe(HandleAs id) {
    return *std::find_if(kHandleAsChoices.begin(), kHandleAsChoices.end(),
                         [id](const HandleAsChoice& c) { return c.id == id; });
}

std::string HandleAsCaption(HandleAs id) {
    return "Handle as " + std::string(Describe(id).name);
}

std::optional<HandleAs> HandleAsByName(std::string_view name) {
    for (const HandleAsChoice& c : kHandleAsChoices)
        if (sameName(c.name, name)) return c.id;
    return std::nullopt;
}

void ConnectHandledAs(Context& ctx, HandleAs id, int networkEntry, int comEntry) {
    switch (id) {
        case HandleAs::RvCtl2:
            ConnectAsType(ctx, networkEntry, AssumedType::MatrixFrame);
            break;
        case HandleAs::HqlxFbr:
            connect::HandleAsFibre(ctx, comEntry, false);
            break;
        case HandleAs::NrvFkTwSn500:
            connect::HandleAsTransmitter(ctx, comEntry, "NRV-FK-TW-SN500S");
            break;
        case HandleAs::NrvTwSn500s:
            connect::HandleAsTransmitter(ctx, comEntry, "NRV-TW-SN500S");
            break;
        case HandleAs::Rv6x6Max:
            ConnectAsType(ctx, networkEntry, AssumedType::DirectMatrix);
            break;
        case HandleAs::Nrv5x5:
            ConnectAsType(ctx, networkEntry, AssumedType::DirectModular);
            break;
        case HandleAs::LnkFbrRc330:
            connect::HandleAsFibre(ctx, comEntry, true);
            break;
    }
}

}  // namespace kv
