#pragma once
// What the kelvmon benchmarks start from: the settings and home in a folder of their own, the
// offscreen platform, and COM3 leading to a fresh pseudo-terminal for the test bus.

#include "tools/sim/pty_port.h"

#include <QByteArray>
#include <QTemporaryDir>
#include <cstdio>
#include <string>

// Call before the application object is made. Returns the bus's side of the pseudo-terminal, or
// -1 after saying why on stderr.
inline int PrepareKelvmonBench(const QTemporaryDir& dir, CPortEntry& entry) {
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toUtf8());
    qputenv("HOME", dir.path().toUtf8());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    std::string path;
    std::string error;
    const int master = OpenPseudoTerminal(path, error);
    if (master < 0 || !entry.Create(3, path, true, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return -1;
    }
    return master;
}
