// What every command of the sonquix host shares: the application set-up, running it, one-line
// errors and argument conversions.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace pelk::cli {

// Names the application, adds --version and makes errors one line ("sonquix: ...").
void SetUpApp(CLI::App& app);

// Parses the arguments and runs the chosen command; returns the process exit code.
int Run(CLI::App& app, int argc, const char* const* argv);
int Run(CLI::App& app, std::vector<std::string> args);  // args without the program name

// Prints "sonquix: <message>" on stderr, for a failure that does not end the command.
void PrintError(std::string_view message);

// Ends the running command: prints "sonquix: <message>" on stderr and exits with `code`.
[[noreturn]] void Fail(std::string_view message, int code = 1);

// The UTF-16 form of a command-line argument; fails the command when it is not valid UTF-8.
std::u16string ArgumentText(std::string_view utf8, std::string_view what);

// An HRESULT as "0x8000FFFF".
std::string HresultText(int32_t hr);

// Reads an unsigned number written in decimal or as 0x... hexadecimal; fails the command when
// it is not one or exceeds `max`.
uint32_t ParseNumber(std::string_view text, uint32_t max, std::string_view what);

}  // namespace pelk::cli
