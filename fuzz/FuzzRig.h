#pragma once

#include "FakeRig.h"

namespace kv::fuzz {

// One fake rig for the whole fuzzing run: building a rig makes a temporary folder and
// opens a log file, which would cost more than the input under test. Each input runs
// inside a FreshRun.
inline test::FakeRig& sharedRig() {
    // Lines still go through the log's own writer, but to a sink: a file that grows by a
    // flushed line per step would cost more system calls than the step itself.
    struct QuietRig : test::FakeRig {
        QuietRig() {
            log.close();
            log.open("/dev", "/dev", "null");
        }
    };
    // Destroyed at exit, which takes its temporary folder away.
    static QuietRig rig;
    return rig;
}

// Drops what an input left in the fakes: the window's texts and dialogs and every byte
// recorded as sent (capacity kept). Done before and after each input, so a run ends
// with as many heap blocks as it started and is not taken for a leak and scanned again.
inline void clearRecorded(test::FakeRig& rig) {
    rig.ui.memo.clear();
    rig.ui.dialogs.clear();
    rig.ui.statusTexts.clear();
    rig.ui.progressValues.clear();
    rig.ui.busyTexts.clear();
    rig.ui.enables.clear();
    rig.ui.answers.clear();
    rig.tcp1.sent.clear();
    rig.tcp2.sent.clear();
    rig.socket1.sent.clear();
    rig.com1.sent.clear();
    rig.com1.lineHistory.clear();
    rig.udpServer.sent.clear();
    rig.gpioClient.sent.clear();
    rig.tftp.sent.clear();
    rig.hid.written.clear();
}

// One input's use of the shared rig: clean when it starts and when it ends.
class FreshRun {
  public:
    FreshRun() : rig(sharedRig()) { clearRecorded(rig); }
    ~FreshRun() { clearRecorded(rig); }
    FreshRun(const FreshRun&) = delete;
    FreshRun& operator=(const FreshRun&) = delete;

    test::FakeRig& rig;
};

}  // namespace kv::fuzz
