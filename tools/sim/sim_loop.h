#pragma once
// The test bus's event loop over the master side of the pseudo-terminal.

#include "tools/sim/bus_sim.h"

#include <functional>
#include <string>

struct LoopControl {
    int fd = -1;                      // when readable, `onReadable` runs
    std::function<bool()> onReadable; // returns false to end the loop
    Nanos endAt = kNever;             // the loop also ends at this time

    // A pulled adapter: the line hangs up this long after the program first opens it ...
    Nanos hangupAfter = -1;
    // ... and a fresh line comes back this long after that. `returnLine` makes it and returns its
    // master, or -1 with `error` set.
    Nanos returnAfter = -1;
    std::function<int(std::string& error)> returnLine;
};

// Runs until `control` says stop: reads what the program writes, time-stamped on arrival, hands
// it to `sim`, and writes what `sim` has due. Follows the program's opening and closing of its
// side and its bit rate. A hang-up closes `master` and sets it to -1; a returned line replaces it.
void RunSimLoop(CBusSim& sim, int& master, const LoopControl& control, const LineSink& log);
