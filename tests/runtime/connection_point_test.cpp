#include <gtest/gtest.h>

#include "runtime/connection_point.h"
#include "runtime/object.h"
#include "tests/runtime/test_interfaces.h"
#include "tests/support/event_sink.h"
#include "tests/support/hr_matchers.h"

namespace pelk::testing {
namespace {

constexpr IID kEventsIid = MakeGuid("6B1D2A10-7C41-4E0B-9A11-0000000000E1");

// A container with one connection point, as the manager is.
class Source final : public Object<Source, IConnectionPointContainer> {
 public:
  HRESULT EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
  HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** point) override {
    if (!point) return E_POINTER;
    *point = nullptr;
    if (!(iid == kEventsIid)) return CONNECT_E_NOCONNECTION;
    point_.AddRef();
    *point = &point_;
    return S_OK;
  }
  // Fires event 1 (in 32-bit status, in text, out 32-bit abort) and returns abort.
  int32_t FireStatus(int32_t status, std::u16string_view file) {
    int32_t abort = 0;
    EventArgs args;
    args.I4(status).Text(file).OutI4(&abort);
    point_.Fire(1, args);
    return abort;
  }
  ConnectionPoint point_{this, kEventsIid};
};

class ConnectionPointTest : public ::testing::Test {
 protected:
  uint32_t Advise(IUnknown* sink) {
    uint32_t cookie = 0;
    EXPECT_HR(S_OK, point_->Advise(sink, &cookie));
    return cookie;
  }
  ComPtr<RecordingSink> NewSink() { return MakeRecordingSink(kEventsIid); }

  ComPtr<Source> source_ = MakeObject<Source>();
  ComPtr<IConnectionPoint> point_ = [this] {
    ComPtr<IConnectionPoint> p;
    source_->FindConnectionPoint(kEventsIid, p.Out());
    return p;
  }();
};

TEST_F(ConnectionPointTest, AdviseChecksItsArguments) {
  uint32_t cookie = 77;
  EXPECT_HR(E_POINTER, point_->Advise(nullptr, &cookie));
  EXPECT_HR(E_POINTER, point_->Advise(NewSink().As<IUnknown>().Get(), nullptr));
  // An object that does not answer the events interface cannot connect.
  ComPtr<CCounter> not_a_sink = MakeObject<CCounter>();
  EXPECT_HR(CONNECT_E_CANNOTCONNECT, point_->Advise(not_a_sink.As<IUnknown>().Get(), &cookie));
  EXPECT_HR(CONNECT_E_NOCONNECTION, point_->Unadvise(1));
  EXPECT_HR(CONNECT_E_NOCONNECTION, point_->Unadvise(0));
}

TEST_F(ConnectionPointTest, CookiesAreSlotsReusedAndGrownByDoubling) {
  std::vector<ComPtr<RecordingSink>> sinks;
  for (int i = 0; i < 5; ++i) sinks.push_back(NewSink());
  EXPECT_EQ(source_->point_.SlotCount(), 4u);
  for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(Advise(sinks[i].As<IUnknown>().Get()), i + 1);
  EXPECT_EQ(Advise(sinks[4].As<IUnknown>().Get()), 5u);  // array full: doubled
  EXPECT_EQ(source_->point_.SlotCount(), 8u);

  EXPECT_HR(S_OK, point_->Unadvise(2));
  EXPECT_HR(CONNECT_E_NOCONNECTION, point_->Unadvise(2));
  EXPECT_EQ(Advise(NewSink().As<IUnknown>().Get()), 2u);  // the empty slot is reused
  EXPECT_EQ(source_->point_.SinkCount(), 5u);
}

TEST_F(ConnectionPointTest, FiringFollowsTheAutomationConvention) {
  ComPtr<RecordingSink> sink = NewSink();
  Advise(sink.As<IUnknown>().Get());
  EXPECT_EQ(source_->FireStatus(3, u"C:\\Music\\a.wav"), 0);
  const auto calls = sink->Calls();
  ASSERT_EQ(calls.size(), 1u);
  const EventCall& call = calls[0];
  EXPECT_EQ(call.id, 1);
  EXPECT_EQ(call.iid, IID_NULL);
  EXPECT_EQ(call.locale, 0x400u);
  EXPECT_EQ(call.flags, DISPATCH_METHOD);
  EXPECT_TRUE(call.result_was_empty);
  EXPECT_FALSE(call.had_named_args);
  ASSERT_EQ(call.args.size(), 3u);
  EXPECT_EQ(call.args[0].vt, VT_I4);
  EXPECT_EQ(call.args[0].i4, 3);
  EXPECT_EQ(call.args[1].vt, VT_BSTR);
  EXPECT_EQ(call.args[1].text, u"C:\\Music\\a.wav");
  EXPECT_EQ(call.args[2].vt, VT_BYREF | VT_I4);
}

TEST_F(ConnectionPointTest, NoSinkMeansNoAbort) { EXPECT_EQ(source_->FireStatus(5, u""), 0); }

TEST_F(ConnectionPointTest, TwoSinksInSlotOrderAndEitherCanAbort) {
  ComPtr<RecordingSink> first = NewSink(), second = NewSink();
  std::vector<int> order;
  first->OnEvent([&](const EventCall&) { order.push_back(1); });
  second->OnEvent([&](const EventCall&) { order.push_back(2); });
  Advise(first.As<IUnknown>().Get());
  Advise(second.As<IUnknown>().Get());

  EXPECT_EQ(source_->FireStatus(3, u"a"), 0);
  EXPECT_EQ(order, (std::vector<int>{1, 2}));

  second->AbortOn(1, 7);
  EXPECT_EQ(source_->FireStatus(3, u"a"), 7);
  second->ClearAbort(1);
  first->AbortOn(1, -1);
  // Both sinks see the same variable: the first one's abort reaches the second and survives.
  EXPECT_EQ(source_->FireStatus(3, u"a"), -1);
  EXPECT_EQ(second->Calls().back().args[2].i4, -1);
  EXPECT_EQ(first->CountOf(1), 3u);
  EXPECT_EQ(second->CountOf(1), 3u);
}

TEST_F(ConnectionPointTest, EachSinkGetsAFreshCopyOfText) {
  ComPtr<RecordingSink> first = NewSink(), second = NewSink();
  // A sink that scribbles over its text argument must not change what the next one sees.
  first->OnEvent([](const EventCall&) {});
  Advise(first.As<IUnknown>().Get());
  Advise(second.As<IUnknown>().Get());
  int32_t abort = 0;
  EventArgs args;
  args.Text(u"title").OutI4(&abort);
  DISPPARAMS* p1 = args.Fill();
  p1->rgvarg[1].bstrVal[0] = u'X';
  DISPPARAMS* p2 = args.Fill();
  EXPECT_EQ(BstrView(p2->rgvarg[1].bstrVal), u"title");
}

TEST_F(ConnectionPointTest, UnadviseDuringAnEventAffectsLaterEvents) {
  ComPtr<RecordingSink> first = NewSink(), second = NewSink();
  const uint32_t first_cookie = Advise(first.As<IUnknown>().Get());
  const uint32_t second_cookie = Advise(second.As<IUnknown>().Get());
  first->OnEvent([&](const EventCall&) { point_->Unadvise(second_cookie); });
  source_->FireStatus(3, u"a");
  EXPECT_EQ(second->CountOf(1), 1u);  // this event still reached it
  source_->FireStatus(3, u"a");
  EXPECT_EQ(second->CountOf(1), 1u);
  EXPECT_EQ(first->CountOf(1), 2u);
  EXPECT_HR(S_OK, point_->Unadvise(first_cookie));
}

TEST_F(ConnectionPointTest, ConnectionPointSharesItsContainersLifetime) {
  ComPtr<IConnectionPointContainer> container;
  ASSERT_HR(S_OK, point_->GetConnectionPointContainer(container.Out()));
  EXPECT_TRUE(SameObject(container.Get(), source_->Identity()));
  IID iid{};
  ASSERT_HR(S_OK, point_->GetConnectionInterface(&iid));
  EXPECT_EQ(iid, kEventsIid);
  source_.Reset();
  container.Reset();
  // point_ still holds the container alive through the shared count.
  ComPtr<RecordingSink> sink = NewSink();
  EXPECT_EQ(Advise(sink.As<IUnknown>().Get()), 1u);
}

}  // namespace
}  // namespace pelk::testing
