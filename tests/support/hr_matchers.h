// EXPECT_HR / ASSERT_HR: compare HRESULTs and print both in hex when they differ.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "runtime/hresult.h"

namespace pelk::testing {

inline std::string HrText(HRESULT hr) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
  return buf;
}

inline ::testing::AssertionResult HrEquals(const char* expected_expr, const char* actual_expr,
                                           HRESULT expected, HRESULT actual) {
  if (expected == actual) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << actual_expr << " returned " << HrText(actual)
                                       << ", expected " << expected_expr << " ("
                                       << HrText(expected) << ")";
}

}  // namespace pelk::testing

#define EXPECT_HR(expected, call) EXPECT_PRED_FORMAT2(::pelk::testing::HrEquals, expected, call)
#define ASSERT_HR(expected, call) ASSERT_PRED_FORMAT2(::pelk::testing::HrEquals, expected, call)
