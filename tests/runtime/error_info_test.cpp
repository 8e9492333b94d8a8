#include <gtest/gtest.h>

#include "runtime/error_info.h"
#include "runtime/thread.h"
#include "tests/support/hr_matchers.h"

namespace pelk {
namespace {

constexpr IID kSomeIid = MakeGuid("6B1D2A10-7C41-4E0B-9A11-0000000000EE");

TEST(ErrorInfoTest, ReportedErrorIsTakenOnceOnTheSameThread) {
  EXPECT_HR(E_FAIL, ReportError(E_FAIL, kSomeIid, u"Src", u"Something failed"));
  ComPtr<IErrorInfo> info;
  ASSERT_HR(S_OK, GetErrorInfo(0, info.Out()));
  GUID guid{};
  info->GetGUID(&guid);
  EXPECT_EQ(guid, kSomeIid);
  Bstr source, description;
  info->GetSource(source.Out());
  info->GetDescription(description.Out());
  EXPECT_EQ(source.View(), u"Src");
  EXPECT_EQ(description.View(), u"Something failed");
  // Taking it clears it.
  EXPECT_HR(S_FALSE, GetErrorInfo(0, info.Out()));
  EXPECT_EQ(info.Get(), nullptr);
}

TEST(ErrorInfoTest, ErrorInformationIsPerThread) {
  ReportError(E_ABORT, kSomeIid, u"", u"here");
  auto other = Thread::Start([] { EXPECT_EQ(TakeErrorDescription(), u""); });
  other->Wait();
  EXPECT_EQ(TakeErrorDescription(), u"here");
  SetErrorInfo(0, nullptr);
  EXPECT_EQ(TakeErrorDescription(), u"");
}

}  // namespace
}  // namespace pelk
