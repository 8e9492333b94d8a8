// Runs the sonquix host in-process with chosen commands, capturing what it prints.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command_support.h"

namespace pelk::cli {

struct Outcome {  // what one run of the host printed and returned
  int code;
  std::string out;
  std::string err;
};

inline Outcome RunCommand(const std::function<void(CLI::App&)>& add_commands,
                          std::vector<std::string> args) {
  CLI::App app;
  SetUpApp(app);
  add_commands(app);
  std::ostringstream out, err;
  std::streambuf* old_out = std::cout.rdbuf(out.rdbuf());
  std::streambuf* old_err = std::cerr.rdbuf(err.rdbuf());
  const int code = Run(app, std::move(args));
  std::cout.rdbuf(old_out);
  std::cerr.rdbuf(old_err);
  return {code, out.str(), err.str()};
}

}  // namespace pelk::cli
