// The worst delay of the window's event loop in each case, with the test bus on a pseudo-terminal
// taking the program's bytes no faster than the line carries them (its wire queue). Prints one
// line per case: the worst stall against the 20 ms goal, and whether the work itself went right.
//
//   ui_stall_bench [case...]   (all cases without arguments; --help lists them)

#include "bench/ui_stall/stall_meter.h"

#include <QApplication>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr double kGoalMs = 20.0;

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("usage: ui_stall_bench [case...]\n\ncases:\n");
        for (const StallCase& c : StallCases()) {
            std::printf("  %-20s %s\n", c.name, c.description);
        }
        return 0;
    }
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication app(argc, argv);
    bool allOk = true;
    for (const StallCase& c : StallCases()) {
        bool wanted = argc == 1;
        for (int i = 1; i < argc; ++i) {
            wanted |= std::strcmp(argv[i], c.name) == 0;
        }
        if (!wanted) {
            continue;
        }
        // Each case has settings and port entries of its own.
        QTemporaryDir config;
        setenv("XDG_CONFIG_HOME", config.path().toLocal8Bit().constData(), 1);
        CStallMeter meter;
        std::string detail;
        const bool worked = c.run(meter, detail);
        const double worst = meter.WorstStallMs();
        const bool ok = worked && worst <= kGoalMs;
        allOk &= ok;
        std::printf("%s: worst stall %.1f ms (goal %.0f ms); %s; %s\n", c.name, worst, kGoalMs,
                    detail.c_str(), ok ? "ok" : "FAILED");
    }
    return allOk ? 0 : 1;
}
