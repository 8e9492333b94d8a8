// `sonquix identify FILE... [--catalog PATH] [--all] [--json] [option flags] [--options N]`:
// identifies each file with the manager's TrackID against a catalogue and prints the chosen disc
// and track, the match type and code, the score and how the match was found.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>
#include <vector>

namespace pelk::cli {

void AddIdentifyCommand(CLI::App& app);

// The TrackID option set of a command line: `raw` (--options, empty for the default set) with
// the named flags applied and, with `all`, SONQUIX_RETURN_ALL instead of SONQUIX_RETURN_SINGLE.
// Fails the command on a set TrackID would refuse, or one this host cannot run (asynchronous).
int32_t TrackIdOptions(const std::string& raw, const std::vector<std::string>& flags, bool all);

}  // namespace pelk::cli
