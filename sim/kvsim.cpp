// kvsim: serves simulated devices over real sockets and ptys, so the tool can be run
// against them end to end.
#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTextStream(stdout) << "kvsim: no devices configured\n";
    return 0;
}
