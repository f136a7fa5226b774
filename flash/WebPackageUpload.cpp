#include "flash/WebPackageUpload.h"

#include <algorithm>
#include <filesystem>
#include <vector>

#include "core/ports/ChannelError.h"
#include "flash/WebPackageFtpListing.h"

namespace kv {

namespace fs = std::filesystem;

namespace {

std::vector<fs::directory_entry> localEntries(const fs::path& folder) {
    std::vector<fs::directory_entry> entries;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        entries.push_back(*it);
    }
    if (ec) throw KvError("Cannot list folder \"" + folder.string() + "\": " + ec.message());
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return a.path().filename() < b.path().filename();
    });
    return entries;
}

bool hasRemoteFolder(FtpClient& ftp, const std::string& name) {
    for (const auto& entry : ParseFtpListing(ftp.listDetailed())) {
        if (entry.folder && entry.name == name) return true;
    }
    return false;
}

}  // namespace

void ClearRemoteFolder(Context& ctx, FtpClient& ftp, const std::string& path, int depth) {
    if (depth > kMaxWebFolderDepth) {
        throw KvError("The web folder on the device is nested more than " +
                      std::to_string(kMaxWebFolderDepth) + " levels deep: " + path);
    }
    ftp.changeDir(path);
    const auto entries = ParseFtpListing(ftp.listDetailed());
    for (const auto& entry : entries) {
        const std::string fullName = ftp.currentDir() + "/" + entry.name;
        if (entry.folder) {
            ClearRemoteFolder(ctx, ftp, fullName, depth + 1);
        } else {
            ftp.deleteFile(fullName);
        }
    }
    ftp.changeDirUp();
    if (path != kWebRootExtra && path != kWebRoot) ftp.removeDir(path);
}

void UploadFolder(Context& ctx, FtpClient& ftp, const std::string& localFolder) {
    ctx.set_progress(0);
    ctx.ProcessMessages();
    const fs::path folder(localFolder);
    for (const auto& entry : localEntries(folder)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file()) {
            ctx.show_status("PUT: " + name);
            if (ctx.progressPosition() < 100) ctx.set_progress(ctx.progressPosition() + 1);
            ctx.ProcessMessages();
            ftp.storeFile(entry.path().string(), name);
        } else if (entry.is_directory()) {
            if (!hasRemoteFolder(ftp, name)) {
                ctx.show_status("MKDIR: " + name);
                ctx.ProcessMessages();
                ftp.makeDir(name);
            }
            ftp.changeDir(name);
            UploadFolder(ctx, ftp, (entry.path() / "").string());
            ftp.changeDirUp();
        }
    }
}

void FtpUploadWebContent(Context& ctx, const std::string& host, const std::string& appDataFolder,
                         int port) {
    const fs::path content = fs::path(appDataFolder) / kWebPackageFolder / kWebContentFolder / "";
    // The web root is emptied first; without content to put back the device would be
    // left without a web site.
    if (!fs::is_directory(content)) {
        throw KvError("The web package has no \"" + std::string(kWebContentFolder) + "\" folder (" +
                      content.string() + ")");
    }
    FtpClient& ftp = *ctx.ports.IdFTP1;
    // Data connections the client refused (from a host other than the device) go to the
    // log for as long as this upload runs.
    ftp.setRefusalLog([&ctx](const std::string& text) { ctx.log_line(text); });
    struct LogDetach {
        FtpClient& ftp;
        ~LogDetach() { ftp.setRefusalLog(nullptr); }
    } detach{ftp};
    try {
        ftp.open(host, port, kFtpUser, kFtpPassword, kFtpTimeout);
        ctx.journal_change(DeviceChange::Upload);
        ClearRemoteFolder(ctx, ftp, kWebRoot);
        ftp.changeDir(kWebRoot);
        UploadFolder(ctx, ftp, content.string());
        ftp.close();
    } catch (...) {
        try {
            if (ftp.isOpen()) ftp.close();
        } catch (const std::exception&) {
            // The upload's own failure is the one to report.
        }
        throw;
    }
    ctx.show_status("FTP Upload Done!");
    ctx.set_progress(100);
    ctx.ProcessMessages();
}

}  // namespace kv
