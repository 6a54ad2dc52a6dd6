#include "cli/Commands.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

// Each command reports through an engine context of its own; anything the engine reports in
// the global context still reaches standard error.
void globalEngineMessage(krmContext, krmUInt32Number code, const char* text)
{
    std::fprintf(stderr, "prismet-cli: engine: %s (code %u)\n", text ? text : "", unsigned(code));
}

} // namespace

int main(int argc, char* argv[])
{
    // QCoreApplication is enough: images are read and written without a display.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("prismet-cli"));

    krmSetLogErrorHandler(globalEngineMessage);

    CliIO io;
    io.readInput = [] {
        QByteArray input;
        char buffer[65536];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0)
            input.append(buffer, qsizetype(n));
        return input;
    };
    io.stream = stdout;  // long outputs (dump --full) are written as they are made
    const int status = runCli(app.arguments().mid(1), io);
    return writeStreams(io, status, stdout, stderr);
}
