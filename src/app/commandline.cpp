#include "commandline.h"

#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
const char helpText[] = "Usage: voltiguard [OPTION]\n"
                        "Watch a UPS through its SNMP agent (UPS-MIB, SNMP v1, v2c or v3) and shut the\n"
                        "computer down safely when the mains power fails, the battery runs low or the\n"
                        "UPS reports a fault for longer than the settings allow.\n"
                        "\n"
                        "Without an option the main window opens; the program then lives in the\n"
                        "notification area. Every setting is made in its Settings dialog.\n"
                        "\n"
                        "  -h, --help       display this help and exit\n"
                        "  -v, --version    output version information and exit\n"
                        "\n"
                        "Qt's own options, such as -platform, are accepted as well.\n";

QtMessageHandler previousHandler = nullptr;

void displayGuard(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    // While the platform plugin starts, its warnings only explain the failure that follows.
    if (type != QtFatalMsg && context.category && std::strncmp(context.category, "qt.qpa.", 7) == 0)
        return;
    if (type != QtFatalMsg) {
        previousHandler(type, context, message);
        return;
    }
    std::fputs("voltiguard: cannot open a display: run it in a graphical session (DISPLAY or "
               "WAYLAND_DISPLAY must name a running display server)\n",
               stderr);
    std::_Exit(1);
}
} // namespace

std::optional<int> handleInfoOptions(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(helpText, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-v") == 0) {
            std::printf("voltiguard %s\n", VOLTIGUARD_VERSION);
            return 0;
        }
    }
    return std::nullopt;
}

void installDisplayGuard()
{
    previousHandler = qInstallMessageHandler(displayGuard);
}

void releaseDisplayGuard()
{
    qInstallMessageHandler(previousHandler);
}
