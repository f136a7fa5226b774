#pragma once

#include <string>
#include <vector>

#include "core/Types.h"

namespace kv {

// A card's identification text cut into words: runs of spaces and control characters
// separate them, and a word that starts with a double quote runs to the closing quote.
std::vector<std::string> SplitReplyWords(const std::string& reply);

// Cards of the matrix and modular families answer "<type> <hw> <fw> <bl>": the fields
// sit at fixed word positions. Throws KvError when the reply has fewer than four words.
TControllerRec ControllerFromFixedWords(const std::string& reply);

// Slot devices, serial devices and USB devices may have a type of several words; the
// last word holding "HW:" marks where the type ends (word 1 when none does). Throws
// KvError when the type would be empty or the versions are missing.
TControllerRec ControllerFromHwAnchoredWords(const std::string& reply);

}  // namespace kv
