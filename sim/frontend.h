// The simulator's front end: sets the model up from the options, runs the player
// (on this thread headless, beside the window otherwise), the key script and the
// time limit, and returns the exit status.
#pragma once

#include <string>

#include "sim/options.h"

namespace sim {

// Runs the whole simulation; returns the process's exit status. o.root must be set.
// Messages of the simulator itself go to standard error, starting "lumetra-sim:".
int run_frontend(const options& o);

// One message of the simulator itself on standard error: "lumetra-sim: " + text.
void say(const std::string& text);

}  // namespace sim
