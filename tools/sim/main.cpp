// trakbus-sim: a Trakbus interface and devices on a pseudo-terminal. See --help.
#include "tools/sim/bus_sim.h"
#include "tools/sim/pty_port.h"
#include "tools/sim/sim_loop.h"
#include "tools/sim/sim_options.h"

#include <csignal>
#include <cstdio>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

const char* SignalName(int signal) {
    switch (signal) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    default:
        return "a signal";
    }
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "trakbus-sim: %s\n", message.c_str());
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    SimConfig config;
    RunOptions run;
    std::string error;
    switch (ParseOptions(argc, argv, config, run, error)) {
    case ParseResult::Help:
        PrintHelp(stdout);
        return 0;
    case ParseResult::Error:
        return Fail(error + " (see --help)");
    case ParseResult::Run:
        break;
    }

    // Signals arrive through a descriptor, so that the loop ends cleanly and the COMn entry
    // goes away whenever they come.
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGUSR1})
        sigaddset(&signals, s);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    // A closed stdout must not end the program before it removes its COMn entry.
    std::signal(SIGPIPE, SIG_IGN);
    const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);
    if (signalFd < 0)
        return Fail("cannot receive signals");

    const Nanos start = MonotonicNow();
    const LineSink log = [&](const std::string& line) {
        if (!run.quiet)
            std::fprintf(stderr, "trakbus-sim %9.3f %s\n",
                         static_cast<double>(MonotonicNow() - start) / 1e9, line.c_str());
    };
    const LineSink report = [](const std::string& line) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    };

    std::string path;
    int master = OpenPseudoTerminal(path, error);
    if (master < 0)
        return Fail(error);
    CPortEntry entry;
    if (run.com > 0 && !entry.Create(run.com, path, run.force, error)) {
        close(master);
        return Fail(error);
    }
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);
    log("port " + path + (entry.Path().empty() ? "" : " as " + entry.Path()) + ", " +
        std::to_string(config.devices.size()) + " devices" +
        (config.faults.none ? ", no echo" : ""));

    CBusSim sim(config, log, report);
    LoopControl control;
    control.fd = signalFd;
    control.endAt = run.endAfter >= 0 ? start + run.endAfter : kNever;
    control.onReadable = [&] {
        signalfd_siginfo info{};
        if (read(signalFd, &info, sizeof info) != sizeof info)
            return true;
        if (info.ssi_signo == SIGUSR1) {
            sim.SendPing(MonotonicNow());
            return true;
        }
        log(std::string("ending on ") + SignalName(static_cast<int>(info.ssi_signo)));
        return false;
    };
    control.hangupAfter = run.hangupAfter;
    control.returnAfter = run.returnAfter;
    control.returnLine = [&](std::string& why) {
        std::string fresh;
        const int line = OpenPseudoTerminal(fresh, why);
        if (line >= 0 && !entry.Create(run.com, fresh, true, why)) {
            close(line);
            return -1;
        }
        if (line >= 0)
            log("port " + fresh + " as " + entry.Path());
        return line;
    };
    RunSimLoop(sim, master, control, log);

    sim.Finish();
    entry.Remove();
    if (master >= 0)
        close(master);
    return config.expect && !sim.DownloadsOk() ? 1 : 0;
}
