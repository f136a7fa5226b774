#include "FakeFtpClient.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "core/ports/ChannelError.h"

namespace kv::test {

namespace {

std::string parentOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

std::string baseName(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

bool isChild(const std::string& folder, const std::string& path) {
    return path != folder && parentOf(path) == folder;
}

}  // namespace

FakeFtpClient::FakeFtpClient() {
    folders.insert("/");
}

void FakeFtpClient::addFolder(const std::string& path) {
    if (path.empty() || path == "/") return;
    addFolder(parentOf(path));
    folders.insert(path);
}

void FakeFtpClient::addFile(const std::string& path, const std::string& content) {
    addFolder(parentOf(path));
    files[path] = content;
}

std::vector<std::string> FakeFtpClient::treeBelow(const std::string& folder) const {
    std::vector<std::string> out;
    const std::string prefix = folder + "/";
    for (const auto& f : folders)
        if (f.rfind(prefix, 0) == 0) out.push_back(f.substr(prefix.size()) + "/");
    for (const auto& [path, content] : files)
        if (path.rfind(prefix, 0) == 0) out.push_back(path.substr(prefix.size()));
    std::sort(out.begin(), out.end());
    return out;
}

void FakeFtpClient::command(const std::string& text) {
    if (!open_) throw ChannelError("Not connected.");
    commands.push_back(text);
    if (text == refuse) throw ChannelError("550 Refused");
}

std::string FakeFtpClient::resolve(const std::string& name) const {
    std::string path = name.front() == '/' ? name : (cwd_ == "/" ? "/" : cwd_ + "/") + name;
    // "//x" from a current folder of "/" plus "/" + name names the same path.
    while (path.size() > 1 && path.find("//") != std::string::npos) path.erase(path.find("//"), 1);
    if (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

bool FakeFtpClient::hasChildren(const std::string& folder) const {
    for (const auto& f : folders)
        if (isChild(folder, f)) return true;
    for (const auto& [path, content] : files)
        if (isChild(folder, path)) return true;
    return false;
}

void FakeFtpClient::open(const std::string& h, int p, const std::string& user,
                         const std::string& password, std::chrono::milliseconds t) {
    host = h;
    port = p;
    timeout = t;
    open_ = true;
    cwd_ = "/";
    command("USER " + user);
    command("PASS " + password);
}

void FakeFtpClient::close() {
    command("QUIT");
    open_ = false;
}

void FakeFtpClient::changeDir(const std::string& path) {
    command("CWD " + path);
    const std::string target = resolve(path);
    if (!folders.count(target)) throw ChannelError("550 " + path + ": No such file or directory");
    cwd_ = target;
}

void FakeFtpClient::changeDirUp() {
    command("CDUP");
    cwd_ = parentOf(cwd_);
}

std::string FakeFtpClient::currentDir() {
    command("PWD");
    return cwd_;
}

std::vector<std::string> FakeFtpClient::listDetailed() {
    command("LIST");
    std::vector<std::string> lines;
    for (const auto& f : folders)
        if (isChild(cwd_, f))
            lines.push_back("drwxr-xr-x   2 root     root         4096 Jan 01 12:00 " +
                            baseName(f));
    for (const auto& [path, content] : files) {
        if (!isChild(cwd_, path)) continue;
        std::ostringstream line;
        line << "-rw-r--r--   1 root     root     " << content.size() << " Jan 01 12:00 "
             << baseName(path);
        lines.push_back(line.str());
    }
    return lines;
}

void FakeFtpClient::makeDir(const std::string& name) {
    command("MKD " + name);
    const std::string target = resolve(name);
    if (folders.count(target) || files.count(target)) throw ChannelError("550 File exists");
    if (!folders.count(parentOf(target))) throw ChannelError("550 No such file or directory");
    folders.insert(target);
}

void FakeFtpClient::removeDir(const std::string& name) {
    command("RMD " + name);
    const std::string target = resolve(name);
    if (!folders.count(target)) throw ChannelError("550 No such file or directory");
    if (hasChildren(target)) throw ChannelError("550 Directory not empty");
    folders.erase(target);
}

void FakeFtpClient::deleteFile(const std::string& name) {
    command("DELE " + name);
    if (!files.erase(resolve(name))) throw ChannelError("550 No such file or directory");
}

void FakeFtpClient::storeFile(const std::string& localPath, const std::string& remoteName) {
    command("STOR " + remoteName);
    std::ifstream in(localPath, std::ios::binary);
    if (!in) throw ChannelError("Cannot open file \"" + localPath + "\"");
    std::stringstream content;
    content << in.rdbuf();
    files[resolve(remoteName)] = content.str();
}

}  // namespace kv::test
