#pragma once

#include "core/ports/Bytes.h"

namespace kv {

// Length of the longest output report a HID report descriptor declares, counting the
// report ID byte that every output report starts with (0 when the device numbers none).
// 0 when the descriptor declares no output report.
int HidapiOutputReportLength(ByteView descriptor);

}  // namespace kv
