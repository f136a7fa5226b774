#pragma once

#include <chrono>

#include "core/Engine.h"

namespace kv::gui {

class QtUi;

// Ends the engine from the GUI thread without a deadlock: the Ui stops asking the
// operator, `finalAction` runs on the engine thread (given up after `finalActionWait`
// when the engine is still busy), then the engine thread is joined. While it waits,
// the GUI thread keeps serving the Ui calls the engine is blocked in.
// Returns whether the final action ran.
bool stopEngine(Engine& engine, QtUi& ui, Engine::Action finalAction,
                std::chrono::milliseconds finalActionWait);

}  // namespace kv::gui
