// Writing a fuzz target's seed corpus: the whole main of a seed maker.
#pragma once

#include <string>
#include <utility>
#include <vector>

using Seeds = std::vector<std::pair<std::string, std::string>>;  // name, bytes

// Writes each seed as DIRECTORY/seed-NAME, with ".zip" added to a NAME
// without a suffix, DIRECTORY being the one argument; returns the exit
// status.
int write_seed_corpus(int argc, char** argv, const Seeds& seeds);
