// kvboot: find, list and upgrade the maker's devices from the command line.
#include <unistd.h>

#include <iostream>

#include <QCoreApplication>

#include "cli/Commands.h"

int main(int argc, char** argv) {
    // The channels' sockets need the application object; no event loop runs on this thread.
    QCoreApplication app(argc, argv);
    kv::cli::Console console(std::cout, std::cerr);
    console.progress = ::isatty(STDERR_FILENO) == 1;
    return kv::cli::RunKvboot(argc, argv, console);
}
