#include "flash/TftpFlashImage.h"

#include <Poco/DigestEngine.h>
#include <Poco/MD5Engine.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <fstream>

#include "core/ports/ChannelError.h"

namespace kv {

std::string FileMd5Hex(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw KvError("Cannot open file \"" + file + "\"");
    Poco::MD5Engine md5;
    std::array<char, 64 * 1024> buffer{};
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        if (in.gcount() > 0) md5.update(buffer.data(), static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) throw KvError("Cannot read file \"" + file + "\"");
    std::string hex = Poco::DigestEngine::digestToHex(md5.digest());
    std::transform(hex.begin(), hex.end(), hex.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return hex;
}

}  // namespace kv
