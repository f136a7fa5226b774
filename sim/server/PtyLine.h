#pragma once

#include <functional>
#include <mutex>
#include <string>

#include <QObject>

#include "Peers.h"

class QSocketNotifier;

namespace kv::sim {

// A pty whose slave side a serial port client opens (through a symlink); the master side
// feeds a device model. Linux ptys keep the termios the client sets, so the model is told
// the client's baud rate and parity before each chunk (a pty may refuse even parity).
class PtyLine : public QObject {
  public:
    PtyLine(StreamPeer& peer, std::mutex& modelMutex, const std::string& linkPath);
    ~PtyLine() override;

    const std::string& slavePath() const { return slavePath_; }

  private:
    void onReadable();
    LineSettings currentLine() const;

    StreamPeer& peer_;
    std::mutex& mutex_;
    std::string linkPath_;
    std::string slavePath_;
    int master_ = -1;
    int slave_ = -1;  // held open so the master never sees a hang-up between clients
    QSocketNotifier* notifier_ = nullptr;
    LineSettings line_{};
    bool lineKnown_ = false;
};

}  // namespace kv::sim
