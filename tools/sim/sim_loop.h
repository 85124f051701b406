#pragma once
// The test bus's event loop over the master side of the pseudo-terminal.

#include "tools/sim/bus_sim.h"

#include <functional>

struct LoopControl {
    int fd = -1;                      // when readable, `onReadable` runs
    std::function<bool()> onReadable; // returns false to end the loop
    Nanos endAt = kNever;             // the loop also ends at this time
};

// Runs until `control` says stop: reads what the program writes, time-stamped on arrival, hands
// it to `sim`, and writes what `sim` has due. Follows the program's opening and closing of its
// side and its bit rate.
void RunSimLoop(CBusSim& sim, int master, const LoopControl& control, const LineSink& log);
