#pragma once

#include <signal.h>

#include <QProcess>
#include <QStringList>
#include <stdexcept>
#include <string>

namespace kv::test {

// kvsim as a child process: started with its arguments, ready once it printed "ready";
// dump() has it write its memories (--dump) and waits until it has.
class KvsimProcess {
  public:
    KvsimProcess(const std::string& program, const QStringList& arguments) {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QString::fromStdString(program), arguments);
        if (!process_.waitForStarted(5000)) throw std::runtime_error("kvsim did not start");
        waitFor("ready");
    }
    ~KvsimProcess() {
        process_.terminate();
        if (!process_.waitForFinished(5000)) process_.kill();
        process_.waitForFinished(1000);
    }
    KvsimProcess(const KvsimProcess&) = delete;
    KvsimProcess& operator=(const KvsimProcess&) = delete;

    void dump() {
        ::kill(static_cast<pid_t>(process_.processId()), SIGUSR1);
        waitFor("dumped");
    }
    const QStringList& lines() const { return lines_; }

  private:
    void waitFor(const QString& wanted) {
        for (;;) {
            while (process_.canReadLine()) {
                const QString line = QString(process_.readLine()).trimmed();
                lines_ << line;
                if (line.startsWith(wanted)) return;
            }
            if (!process_.waitForReadyRead(10000))
                throw std::runtime_error("kvsim never printed " + wanted.toStdString());
        }
    }

    QProcess process_;
    QStringList lines_;
};

}  // namespace kv::test
