#include "tools/sim/sim_loop.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// While the program has its side closed the master reports a hang-up at once, so poll cannot
// wait on it; look again after this long.
constexpr Nanos kClosedRecheck = Ms(5);

// How much earlier than a due echo the loop stops sleeping.
constexpr Nanos kEarlyWake = 100'000;

// Bytes kept for a program that does not read; beyond this, output is dropped.
constexpr std::size_t kMaxPending = 1 << 20;

// With the wire queue, bytes whose time on the line begins this soon are taken together, so that
// a fast line does not need a wake-up per byte.
constexpr Nanos kWireLookahead = 500'000;

// How many of the program's bytes the line can take by now: those whose time on it begins
// within the look-ahead, one after another from when it is free. Without the wire queue (or
// before the program has set a rate) it takes whatever is there.
std::size_t WireRoom(const CBusSim& sim, Nanos now, std::size_t most) {
    const Nanos byteTime = sim.Line().WireTime(1);
    if (!sim.Config().wireQueue || byteTime <= 0)
        return most;
    const Nanos start = std::max(sim.InputFreeAt(), now);
    if (start > now + kWireLookahead)
        return 0;
    return std::min<std::size_t>(
        most, static_cast<std::size_t>((now + kWireLookahead - start) / byteTime) + 1);
}

bool ProgramSideOpen(int master) {
    pollfd p{master, POLLIN, 0};
    return poll(&p, 1, 0) >= 0 && (p.revents & POLLHUP) == 0;
}

timespec ToTimespec(Nanos t) {
    t = std::max<Nanos>(t, 0);
    return {static_cast<time_t>(t / 1'000'000'000), static_cast<long>(t % 1'000'000'000)};
}

} // namespace

void RunSimLoop(CBusSim& sim, int& master, const LoopControl& control, const LineSink& log) {
    bool open = false;
    bool overflowLogged = false;
    std::vector<std::uint8_t> pending;
    std::uint8_t buffer[4096];
    // Echoes are due at the end of a message's wire time; the default 50 us of timer slack
    // would let every one of them leave that much later.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    // The pulled adapter's two moments, once the program has opened the line for the first time.
    Nanos hangupAt = kNever;
    Nanos returnAt = kNever;
    bool pulled = false;

    auto closedByProgram = [&](const char* why) {
        open = false;
        overflowLogged = false;
        pending.clear();
        sim.PortClosed();
        log(why);
    };

    for (;;) {
        Nanos now = MonotonicNow();
        if (now >= control.endAt)
            return;
        if (now >= hangupAt) {
            hangupAt = kNever;
            if (open)
                closedByProgram("line hung up");
            else
                log("line hung up");
            close(master);
            master = -1;
            if (control.returnAfter >= 0 && control.returnLine)
                returnAt = now + control.returnAfter;
        }
        if (now >= returnAt) {
            returnAt = kNever;
            std::string error;
            master = control.returnLine(error);
            log(master >= 0 ? "line back" : "line not back: " + error);
        }
        if (master >= 0 && !open && ProgramSideOpen(master)) {
            open = true;
            tcflush(master, TCOFLUSH); // nothing stale reaches the freshly opened port
            LineFormat line;
            if (ReadLineFormat(master, &line))
                sim.SetLineFormat(line);
            sim.PortOpened(now);
            log("port opened by the program");
            if (control.hangupAfter >= 0 && !pulled) {
                pulled = true; // once: the returned line works as before
                hangupAt = now + control.hangupAfter;
            }
        }

        if (open) {
            const std::size_t before = pending.size();
            sim.TakeDue(now, pending);
            if (pending.size() > kMaxPending) {
                pending.resize(before);
                if (!overflowLogged)
                    log("the program does not read: output dropped");
                overflowLogged = true;
            }
            if (!pending.empty()) {
                const ssize_t n = write(master, pending.data(), pending.size());
                if (n > 0)
                    pending.erase(pending.begin(), pending.begin() + n);
            }
        }

        // While the line is busy with what it took, the program's bytes wait where they are;
        // a hang-up is still reported.
        const std::size_t room = open ? WireRoom(sim, now, sizeof buffer) : sizeof buffer;
        pollfd fds[2] = {{control.fd, POLLIN, 0},
                         {master, static_cast<short>(room > 0 ? POLLIN : 0), 0}};
        if (!pending.empty())
            fds[1].events |= POLLOUT;
        const Nanos next = std::min({control.endAt, hangupAt, returnAt});
        Nanos wait = open          ? std::min(sim.NextDue(), next) - now
                     : master >= 0 ? std::min(kClosedRecheck, next - now)
                                   : next - now; // no line: nothing to watch but the clock
        if (room == 0)
            wait = std::min(wait, sim.InputFreeAt() - kWireLookahead - now);
        if (!pending.empty() && open)
            wait = std::min(wait, Ms(100)); // the program may drain the line at any time
        wait = std::min(wait, Ms(1000));
        // A timer wakes the loop some tens of microseconds late, and the program waits for each
        // echo; woken that much early, the loop looks again without sleeping until the echo can
        // leave at the end of its message's wire time.
        if (open && sim.NextEchoDue() - now == wait)
            wait = std::max<Nanos>(0, wait - kEarlyWake);
        const timespec timeout = ToTimespec(wait);
        if (ppoll(fds, open ? 2 : 1, &timeout, nullptr) < 0 && errno != EINTR)
            return;
        const Nanos arrival = MonotonicNow();

        if (fds[0].revents & POLLIN) {
            if (!control.onReadable())
                return;
        }
        if (!open)
            continue;
        bool closed = (fds[1].revents & (POLLHUP | POLLERR)) != 0;
        // What a closing program leaves behind is taken at once, so that the hang-up is seen.
        if (closed && room == 0)
            fds[1].revents |= POLLIN;
        if (fds[1].revents & POLLIN) {
            const std::size_t take = closed ? sizeof buffer : WireRoom(sim, arrival, sizeof buffer);
            const ssize_t n = read(master, buffer, take);
            if (n > 0) { // read what is there first; a hang-up is seen once it is drained
                LineFormat line;
                if (ReadLineFormat(master, &line))
                    sim.SetLineFormat(line);
                sim.Receive(arrival, buffer, static_cast<std::size_t>(n));
                continue;
            }
            if (n == 0 || (errno != EAGAIN && errno != EINTR))
                closed = true;
        }
        if (closed)
            closedByProgram("port closed by the program");
    }
}
