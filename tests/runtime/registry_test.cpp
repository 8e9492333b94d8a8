#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "runtime/com_create.h"
#include "runtime/registry.h"
#include "tests/runtime/test_interfaces.h"
#include "tests/support/hr_matchers.h"

namespace pelk::testing {
namespace {

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("pelk-registry-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    file_ = dir_ / "registry";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::filesystem::path dir_, file_;
};

TEST_F(RegistryTest, WriteReadAndCaseInsensitiveKeys) {
  Registry reg(file_);
  EXPECT_FALSE(reg.KeyExists("CLSID"));  // a missing file is an empty registry
  ASSERT_HR(S_OK, reg.SetValue("CLSID\\{A}\\InprocServer32", "", "/lib/x.so"));
  ASSERT_HR(S_OK, reg.SetValue("CLSID\\{A}\\InprocServer32", "ThreadingModel", "both"));
  ASSERT_HR(S_OK, reg.SetValue("Odd\\Key", "name=with\\odd\nchars", "line1\nline2=\\"));

  Registry again(file_);  // a second reader of the same file
  EXPECT_EQ(again.GetValue("clsid\\{a}\\inprocserver32"), "/lib/x.so");
  EXPECT_EQ(again.GetValue("CLSID\\{A}\\InprocServer32", "threadingmodel"), "both");
  EXPECT_EQ(again.GetValue("Odd\\Key", "name=with\\odd\nchars"), "line1\nline2=\\");
  EXPECT_FALSE(again.GetValue("CLSID\\{A}", "").has_value());
  EXPECT_EQ(again.SubKeys("CLSID"), std::vector<std::string>{"{A}"});
  EXPECT_HR(E_INVALIDARG, reg.SetValue("Bad\nKey", "", "v"));
}

TEST_F(RegistryTest, ForceRemoveDeletesTheSubtreeOnly) {
  Registry reg(file_);
  reg.SetValue("CLSID\\{A}\\InprocServer32", "", "a.so");
  reg.SetValue("CLSID\\{A}\\Programmable", "", "");
  reg.SetValue("CLSID\\{B}\\InprocServer32", "", "b.so");
  EXPECT_HR(S_OK, reg.DeleteTree("CLSID\\{A}"));
  EXPECT_HR(S_FALSE, reg.DeleteTree("CLSID\\{A}"));
  EXPECT_FALSE(reg.KeyExists("CLSID\\{A}"));
  EXPECT_TRUE(reg.KeyExists("CLSID"));
  EXPECT_EQ(reg.GetValue("CLSID\\{B}\\InprocServer32"), "b.so");
}

TEST_F(RegistryTest, AFileThatIsNotARegistryIsNeverOverwritten) {
  std::filesystem::create_directories(dir_);
  { std::ofstream(file_) << "something else\n"; }
  Registry reg(file_);
  EXPECT_HR(E_FAIL, reg.SetValue("K", "", "v"));
  std::ifstream in(file_);
  std::string first;
  std::getline(in, first);
  EXPECT_EQ(first, "something else");
}

TEST_F(RegistryTest, DefaultPathFollowsTheEnvironment) {
  const char* saved = std::getenv("PELK_REGISTRY");
  const std::string saved_value = saved ? saved : "";
  setenv("PELK_REGISTRY", "/tmp/x/registry", 1);
  EXPECT_EQ(Registry::DefaultPath(), "/tmp/x/registry");
  unsetenv("PELK_REGISTRY");
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const std::string xdg_value = xdg ? xdg : "";
  setenv("XDG_CONFIG_HOME", "/cfg", 1);
  EXPECT_EQ(Registry::DefaultPath(), "/cfg/pelk/registry");
  if (xdg) {
    setenv("XDG_CONFIG_HOME", xdg_value.c_str(), 1);
  } else {
    unsetenv("XDG_CONFIG_HOME");
  }
  if (saved) setenv("PELK_REGISTRY", saved_value.c_str(), 1);
}

constexpr CLSID kCounterClsid = MakeGuid("6B1D2A10-7C41-4E0B-9A11-0000000000C1");

TEST_F(RegistryTest, CoCreateInstanceLoadsTheRegisteredModule) {
  setenv("PELK_REGISTRY", file_.c_str(), 1);
  const std::string key = "CLSID\\" + GuidToString(kCounterClsid) + "\\InprocServer32";
  void* object = nullptr;
  EXPECT_HR(REGDB_E_CLASSNOTREG,
            CoCreateInstance(kCounterClsid, nullptr, CLSCTX_ALL, ICounter::kIid, &object));

  Registry(file_).SetValue(key, "", "/nonexistent/module.so");
  EXPECT_HR(CO_E_DLLNOTFOUND,
            CoCreateInstance(kCounterClsid, nullptr, CLSCTX_ALL, ICounter::kIid, &object));

  Registry(file_).SetValue(key, "", SONQUIX_TEST_MODULE);
  ComPtr<ICounter> counter;
  ASSERT_HR(S_OK, CoCreateInstance(kCounterClsid, nullptr, CLSCTX_ALL, ICounter::kIid,
                                   counter.OutVoid()));
  int32_t sum = 0;
  EXPECT_HR(S_OK, counter->Add(20, 22, &sum));
  EXPECT_EQ(sum, 42);

  // The object counts in its own module's lock, not in ours.
  using LockCountFn = int32_t (*)();
  auto lock_count = reinterpret_cast<LockCountFn>(
      GetProcAddress(LoadLibrary(SONQUIX_TEST_MODULE), "TestModuleLockCount"));
  ASSERT_NE(lock_count, nullptr);
  EXPECT_EQ(lock_count(), 1);
  counter.Reset();
  EXPECT_EQ(lock_count(), 0);

  EXPECT_HR(E_POINTER, CoCreateInstance(kCounterClsid, nullptr, CLSCTX_ALL, ICounter::kIid,
                                        nullptr));
  unsetenv("PELK_REGISTRY");
}

}  // namespace
}  // namespace pelk::testing
