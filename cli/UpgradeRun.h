#pragma once
// One device's upgrade as kvboot upgrade and plans run it: rows already at their expected
// version left out, the upgrade of the others, the restore, and the versions read back.
#include <optional>
#include <string>
#include <vector>

#include "cli/DeviceSession.h"

namespace kv::cli {

struct RunRequest {
    std::vector<RowFile> rows;  // each with its pinned digest and expected version
    bool force = false;         // flash rows already at their expected version too
    bool verify = false;        // read the versions back after the run even without expected ones
    // Whether anything is read back after the run.
    bool readsBack() const;
};

// What the run does with a requested row, once the inventory is known.
struct RowDecision {
    int row = -1;
    std::string type;
    std::string from;      // the version the inventory shows
    std::string expected;  // in the device's form; empty: none
    std::string path;
    bool skip = false;  // already at its expected version (and no --force)
};

class UpgradeRun {
  public:
    UpgradeRun(DeviceSession& session, Target target, std::optional<HandleAs> as,
               RunRequest request);

    // Connects, decides which rows are already where they should be and chooses the
    // files of the others.
    SessionResult prepare();
    const std::vector<RowDecision>& decisions() const { return decisions_; }
    // Whether any row is to be flashed.
    bool flashes() const;

    // Upgrades the rows not skipped (none: the device is only closed), closes, and reads
    // the versions back when the request asks for it. The rows of the outcome carry
    // from, to and expected; skipped rows are among them. `closed` gets the close's
    // result.
    UpgradeOutcome finish(SessionResult& closed);

  private:
    void readBack(UpgradeOutcome& outcome);

    DeviceSession& session_;
    Target target_;
    std::optional<HandleAs> as_;
    RunRequest request_;
    std::vector<RowDecision> decisions_;
};

}  // namespace kv::cli
