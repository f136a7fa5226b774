#include "PlatformPorts.h"

#include "PocoFtpClient.h"

namespace kv {

// The real channel implementations; each is added here as it is built.
struct PlatformPorts::Owned {
    PocoFtpClient ftp;
};

PlatformPorts::PlatformPorts() : owned_(std::make_unique<Owned>()) {
    ports_.IdFTP1 = &owned_->ftp;
}

PlatformPorts::~PlatformPorts() = default;

}  // namespace kv
