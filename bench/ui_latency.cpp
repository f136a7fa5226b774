// ui_latency: how late the window's event loop runs while the whole program does its main
// job against simulated devices (scripts/ui_latency.sh starts kvsim and this inside a
// private network namespace under Xvfb).
//
//   ui_latency --device 127.0.0.x --family NAME --firmware FOLDER [--idle SECONDS]
//
// A 10 ms timer on the window's thread notes how much later than due each tick came;
// the automated operator plays FIND, connect, files, UPGRADE, report and close, after an
// idle spell with the window open and the engine waiting. Per stage it prints the wall
// time, the program's CPU time (all threads), the largest and the 99th-percentile
// lateness. Targets: no lateness of 50 ms or more; under 5% of one core while idle.

#include <sys/resource.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "DemoFirmware.h"
#include "DemoOperator.h"
#include "Scenario.h"
#include "gui/GuiText.h"
#include "gui/MainWindow.h"
#include "gui/Program.h"

namespace {

constexpr int kProbeMs = 10;
constexpr double kStallTargetMs = 50.0;
constexpr double kIdleCpuTarget = 0.05;

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Stage {
    QString name;
    double wallStart = 0, cpuStart = 0;
    double wall = 0, cpu = 0;
    std::vector<double> lateMs;
};

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1));
    return values[index];
}

// The event loop's lateness, stage by stage.
class Probe {
  public:
    Probe() {
        clock_.start();
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(kProbeMs);
        QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
    }

    void begin(const QString& name) {
        endStage();
        stages_.push_back({name, seconds(), cpuSeconds(), 0, 0, {}});
        if (!timer_.isActive()) {
            last_ = clock_.nsecsElapsed();
            timer_.start();
        }
    }
    void finish() {
        endStage();
        timer_.stop();
    }
    const std::vector<Stage>& stages() const { return stages_; }

  private:
    double seconds() const { return static_cast<double>(clock_.nsecsElapsed()) / 1e9; }
    void tick() {
        const qint64 now = clock_.nsecsElapsed();
        const double late = static_cast<double>(now - last_) / 1e6 - kProbeMs;
        last_ = now;
        if (!stages_.empty()) stages_.back().lateMs.push_back(std::max(0.0, late));
    }
    void endStage() {
        if (stages_.empty() || stages_.back().wall > 0) return;
        Stage& s = stages_.back();
        s.wall = seconds() - s.wallStart;
        s.cpu = cpuSeconds() - s.cpuStart;
    }

    QElapsedTimer clock_;
    QTimer timer_;
    qint64 last_ = 0;
    std::vector<Stage> stages_;
};

int usage(const std::string& problem) {
    std::fprintf(stderr,
                 "ui_latency: %s\nusage: ui_latency --device 127.0.0.x --family NAME"
                 " --firmware FOLDER [--idle SECONDS]\n",
                 problem.c_str());
    return 2;
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Korvandel Bootloader"));

    QString address, familyName, firmware;
    int idleSeconds = 10;
    const QStringList args = QApplication::arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (i + 1 >= args.size()) return usage(args[i].toStdString() + " needs a value");
        const QString& option = args[i];
        const QString value = args[++i];
        if (option == QLatin1String("--device")) {
            address = value;
        } else if (option == QLatin1String("--family")) {
            familyName = value;
        } else if (option == QLatin1String("--firmware")) {
            firmware = value;
        } else if (option == QLatin1String("--idle")) {
            idleSeconds = value.toInt();
        } else {
            return usage("unknown option " + option.toStdString());
        }
    }
    if (!address.startsWith(QLatin1String("127."))) {
        return usage("--device must be a loopback address (127.x.x.x)");
    }
    const auto family = kv::sim::ParseDemoFamily(familyName.toStdString());
    if (!family || !kv::sim::IsUpgradableFamily(*family) || firmware.isEmpty()) {
        return usage("an upgradable --family and its --firmware folder are needed");
    }

    kv::demo::OperatorPlan plan;
    plan.deviceAddress = address;
    for (const auto& file : kv::sim::DemoFirmwareFiles(*family)) {
        const QString path = QDir(firmware).absoluteFilePath(QString::fromStdString(file.fileName));
        if (!QFileInfo::exists(path)) return usage("missing firmware file " + path.toStdString());
        plan.rows.push_back({QString::fromStdString(file.controllerType), path});
    }
    Probe probe;
    plan.onStage = [&probe](const QString& stage) { probe.begin(stage); };

    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    QDir().mkpath(QDir(dataHome).filePath(QStringLiteral("Korvandel/KV_bootloader_v3_3_2")));
    kv::demo::OperatorResult result;
    {
        kv::gui::Program program;
        program.start({kv::gui::fromQ(dataHome), kv::gui::fromQ(QDir::currentPath())});
        if (!QTest::qWaitForWindowExposed(&program.mainWindow(), 10000)) {
            return usage("the main window did not show");
        }
        probe.begin(QStringLiteral("idle"));
        QTest::qWait(idleSeconds * 1000);
        kv::demo::DemoOperator player(program, plan);
        result = player.run();
        probe.finish();
        program.shutDown();
    }
    if (!result.ok) {
        std::fprintf(stderr, "ui_latency: the run FAILED: %s\n", qPrintable(result.failure));
        return 1;
    }

    std::printf("%-8s %8s %8s %7s %13s %13s\n", "stage", "wall s", "CPU s", "CPU %", "max late ms",
                "p99 late ms");
    std::vector<double> all;
    double wall = 0, cpu = 0, idleShare = 0;
    for (const Stage& s : probe.stages()) {
        const double share = s.wall > 0 ? s.cpu / s.wall : 0;
        const double max =
            s.lateMs.empty() ? 0 : *std::max_element(s.lateMs.begin(), s.lateMs.end());
        std::printf("%-8s %8.2f %8.2f %7.1f %13.1f %13.1f\n", qPrintable(s.name), s.wall, s.cpu,
                    100 * share, max, percentile(s.lateMs, 0.99));
        all.insert(all.end(), s.lateMs.begin(), s.lateMs.end());
        wall += s.wall;
        cpu += s.cpu;
        if (s.name == QLatin1String("idle")) idleShare = share;
    }
    const double max = all.empty() ? 0 : *std::max_element(all.begin(), all.end());
    std::printf("%-8s %8.2f %8.2f %7.1f %13.1f %13.1f\n", "all", wall, cpu,
                wall > 0 ? 100 * cpu / wall : 0.0, max, percentile(all, 0.99));
    std::printf("verdict: %s; max lateness %s %.0f ms; idle CPU %s %.0f%%\n",
                qPrintable(result.verdict), max < kStallTargetMs ? "under" : "NOT under",
                kStallTargetMs, idleShare < kIdleCpuTarget ? "under" : "NOT under",
                100 * kIdleCpuTarget);
    return 0;
}
