#include "PlatformPorts.h"

namespace kv {

// The real channel implementations; each is added here as it is built.
struct PlatformPorts::Owned {};

PlatformPorts::PlatformPorts() : owned_(std::make_unique<Owned>()) {}

PlatformPorts::~PlatformPorts() = default;

}  // namespace kv
