#include "device/Connect.h"
#include "device/ConnectSteps.h"

namespace kv {

void PopupMenu1Entry(Context& ctx, HandleAsEntry entry, int networkEntry, int comEntry) {
    switch (entry) {
        case HandleAsEntry::RvCtl2:
            ConnectAsType(ctx, networkEntry, AssumedType::MatrixFrame);
            break;
        case HandleAsEntry::HqlxFbr:
            connect::HandleAsFibre(ctx, comEntry, false);
            break;
        case HandleAsEntry::NrvFkTwSn500:
            connect::HandleAsTransmitter(ctx, comEntry, "NRV-FK-TW-SN500S");
            break;
        case HandleAsEntry::NrvTwSn500s:
            connect::HandleAsTransmitter(ctx, comEntry, "NRV-TW-SN500S");
            break;
        case HandleAsEntry::Rv6x6Max:
            ConnectAsType(ctx, networkEntry, AssumedType::DirectMatrix);
            break;
        case HandleAsEntry::Nrv5x5:
            ConnectAsType(ctx, networkEntry, AssumedType::DirectModular);
            break;
        case HandleAsEntry::LnkFbrRc330:
            connect::HandleAsFibre(ctx, comEntry, true);
            break;
        case HandleAsEntry::Cancel:
            break;
    }
}

}  // namespace kv
