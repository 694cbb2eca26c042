// Arbitrary bytes as the output of the service control tool: the main
// window's state reading, the toolbox's reading and the console-text decoder.

#include "diagnostics/servicequery.h"
#include "main/servicestate.h"
#include "service/servicecontroller.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void require(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "sc query output: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray output(reinterpret_cast<const char *>(data), int(size));

    const QString state = servicestate::parseQueryOutput(output);
    // One field of one line, trimmed.
    require(!state.contains(QLatin1Char('\n')), "state spans lines");
    require(state == state.trimmed(), "state not trimmed");

    // The toolbox and the main window read the same state from the same output.
    const QString judged = servicequery::judgeOutput(output);
    require(judged == QLatin1String("1060") || judged == state, "toolbox and main window disagree");

    servicecontrol::decodeOutput(output);
    return 0;
}
