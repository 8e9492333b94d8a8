// A folder of its own for the running test: named after the prefix, the process and the test, so
// tests running side by side never share one; made empty by TestFolder.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace pelk::testing {

inline std::filesystem::path TestFolder(
    std::string_view prefix,
    const std::filesystem::path& base = std::filesystem::temp_directory_path()) {
  const std::filesystem::path dir =
      base / (std::string(prefix) + "-" + std::to_string(::getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name());
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

}  // namespace pelk::testing
