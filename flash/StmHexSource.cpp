#include "flash/StmHexSource.h"

#include "core/ports/ChannelError.h"
#include "firmware/HexRecord.h"

namespace kv {

StmHexSource::StmHexSource(std::istream& in) : in_(in) {}

bool StmHexSource::advance() {
    if (atEnd_) return false;
    if (!ReadHexLine(in_, line_)) {
        atEnd_ = true;
        line_.clear();
        return false;
    }
    ++lineNumber_;
    return true;
}

int StmHexSource::field(std::size_t position, std::size_t digits) const {
    // Positions count from 1, as in the record layout.
    if (line_.size() < position - 1 + digits) throw KvError("Illegal record length");
    return HexToInt(std::string_view(line_).substr(position - 1, digits));
}

int StmHexSource::recordType() const {
    return field(8, 2);
}
int StmHexSource::byteCount() const {
    return field(2, 2);
}
std::uint16_t StmHexSource::recordAddress() const {
    return static_cast<std::uint16_t>(field(4, 4));
}
std::uint16_t StmHexSource::upperAddress() const {
    return static_cast<std::uint16_t>(field(10, 4));
}

Bytes StmHexSource::recordData() const {
    const int count = byteCount();
    Bytes data(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        data[static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>(field(10 + 2 * static_cast<std::size_t>(i), 2));
    }
    return data;
}

}  // namespace kv
