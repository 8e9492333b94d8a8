// `sonquix lookup FILE [--catalog PATH] [--mode BITS|NAMES] [--json]`: runs the manager's
// single-call LookupFile for one file (fingerprinted by the host) and prints the match code and
// what LookupFile committed to the lookup engine, read back from the control: one disc or the
// collection.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>

namespace pelk::cli {

void AddLookupCommand(CLI::App& app);

// The lookup_mode of a command line: a number (decimal or 0x hexadecimal) or names joined by
// "," or "|" (waveform, text, local, multi-exact, multi-fuzzy, fuzzy). Fails the command on
// anything else.
int32_t LookupModeOf(const std::string& text);

}  // namespace pelk::cli
