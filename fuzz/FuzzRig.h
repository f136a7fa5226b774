#pragma once

#include <filesystem>
#include <system_error>

#include "FakeRig.h"

namespace kv::fuzz {

// One fake rig for the whole fuzzing run: building a rig makes a temporary folder and
// opens a log file, which would cost more than the input under test. Each input starts
// with freshRun(), which drops what earlier inputs left in the window and keeps the log
// from growing without bound.
inline test::FakeRig& sharedRig() {
    // Destroyed at exit, which takes its temporary folder away.
    static test::FakeRig rig;
    return rig;
}

inline test::FakeRig& freshRun() {
    test::FakeRig& rig = sharedRig();
    static unsigned runs = 0;
    rig.ui.memo.clear();
    rig.ui.dialogs.clear();
    rig.ui.statusTexts.clear();
    rig.ui.progressValues.clear();
    rig.ui.busyTexts.clear();
    rig.ui.enables.clear();
    rig.ui.answers.clear();
    // What the fakes record only grows; cleared (capacity kept), a run that ends with as
    // many blocks as it started is not taken for a leak and scanned.
    rig.tcp1.sent.clear();
    rig.tcp2.sent.clear();
    rig.socket1.sent.clear();
    rig.com1.sent.clear();
    rig.com1.lineHistory.clear();
    rig.udpServer.sent.clear();
    rig.gpioClient.sent.clear();
    rig.tftp.sent.clear();
    rig.hid.written.clear();
    if (++runs % 1024 == 0) {
        rig.log.close();
        std::error_code ignored;
        std::filesystem::remove(rig.log.path(), ignored);
        rig.log.open(rig.folder.string(), rig.folder.string());
    }
    return rig;
}

}  // namespace kv::fuzz
