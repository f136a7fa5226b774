#pragma once

#include <string>
#include <vector>

namespace kv {

// Cuts `text` into items at `delimiter` and at every character from 0x01 to 0x20.
// Runs of those blank characters (and leading or trailing ones) give no empty item;
// two delimiters in a row, a leading delimiter and a delimiter at the very end each
// give one empty item. An item that starts with a double quote runs to the closing
// quote and is taken without its quotes (a doubled quote inside stands for one).
// A zero character ends the text. `list` is emptied first.
void SplitDelimited(char delimiter, const std::string& text, std::vector<std::string>& list);

// The same, returned by value.
std::vector<std::string> SplitDelimited(char delimiter, const std::string& text);

}  // namespace kv
