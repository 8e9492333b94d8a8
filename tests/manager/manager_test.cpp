#include <gtest/gtest.h>

#include "manager/manager_error.h"
#include "manager/settings.h"
#include "manager/shared_control.h"
#include "manager/sonquix_manager.h"
#include "runtime/error_info.h"
#include "runtime/thread.h"
#include "tests/support/event_sink.h"
#include "tests/support/fake_control.h"
#include "tests/support/hr_matchers.h"

namespace pelk::testing {
namespace {

class ManagerTest : public ::testing::Test {
 protected:
  void TearDown() override {
    // Leave the process-wide state as found, whatever the test did.
    for (auto& m : managers_) m->Shutdown();
    ASSERT_EQ(SharedControlState::Instance().InitializedManagers(), 0);
  }
  ComPtr<CPELKSonquixManager> NewManager() {
    managers_.push_back(MakeObject<CPELKSonquixManager>());
    return managers_.back();
  }
  HRESULT InitializeWithVersion(const char16_t* version) {
    fake_->SetVersion(version);
    return NewManager()->Initialize(fake_->Control().Get());
  }

  std::shared_ptr<FakeLookupControl> fake_ = FakeLookupControl::Create();
  std::vector<ComPtr<CPELKSonquixManager>> managers_;
};

TEST_F(ManagerTest, ControlVersionCheck) {
  EXPECT_HR(S_OK, InitializeWithVersion(u"PELKControl 2.1.0.6"));
  EXPECT_HR(PELKSonquix_PELKControlVersion, InitializeWithVersion(u"PELKControl 2.1.9.5"));
  EXPECT_HR(S_OK, InitializeWithVersion(u"PELKControl 3.0.0.0"));
  EXPECT_HR(S_OK, InitializeWithVersion(u"PELKControl 2.2.0.0"));
  EXPECT_HR(PELKSonquix_PELKControlVersion, InitializeWithVersion(u"PELKControl 2.0.9.9"));
  EXPECT_HR(PELKSonquix_PELKControlVersion, InitializeWithVersion(u""));
  EXPECT_HR(PELKSonquix_PELKControlVersion, InitializeWithVersion(u"Control 9.9.9.9"));

  fake_->SetVersionResult(E_ACCESSDENIED);
  EXPECT_HR(E_ACCESSDENIED, NewManager()->Initialize(fake_->Control().Get()));
  EXPECT_HR(E_INVALIDARG, NewManager()->Initialize(nullptr));
}

TEST_F(ManagerTest, EngineIsRequiredTracerIsNot) {
  fake_->SetObjectAvailable(kControlObjectTracer, false);
  auto manager = NewManager();
  ASSERT_HR(S_OK, manager->Initialize(fake_->Control().Get()));
  EXPECT_FALSE(manager->Tracer());
  EXPECT_TRUE(manager->Engine());
  EXPECT_TRUE(manager->IsInitialized());

  auto other = FakeLookupControl::Create();
  other->SetObjectAvailable(kControlObjectEngine, false);
  auto failing = NewManager();
  EXPECT_HR(E_FAIL, failing->Initialize(other->Control().Get()));
  EXPECT_FALSE(failing->IsInitialized());
}

TEST_F(ManagerTest, ManagersShareTheAnchorUntilTheLastShutdown) {
  auto first = NewManager();
  auto second = NewManager();
  ASSERT_HR(S_OK, first->Initialize(fake_->Control().Get()));
  ASSERT_HR(S_OK, second->Initialize(fake_->Control().Get()));
  EXPECT_EQ(fake_->CountOf("GetControlObject"), 5u);  // 7, 8, 9, then 7 and 8 again
  EXPECT_EQ(fake_->LiveAnchors(), 1);
  EXPECT_EQ(SharedControlState::Instance().InitializedManagers(), 2);

  // A Shutdown without a matching Initialize takes nothing from the others.
  auto stranger = NewManager();
  EXPECT_HR(S_OK, stranger->Shutdown());
  EXPECT_HR(S_OK, stranger->Shutdown());
  EXPECT_EQ(fake_->LiveAnchors(), 1);

  first->Shutdown();
  EXPECT_EQ(fake_->LiveAnchors(), 1);
  EXPECT_TRUE(SharedControlState::Instance().Control());
  second->Shutdown();
  EXPECT_EQ(fake_->LiveAnchors(), 0);
  EXPECT_FALSE(SharedControlState::Instance().Control());
  EXPECT_FALSE(second->Engine());
  EXPECT_FALSE(second->IsInitialized());
}

TEST_F(ManagerTest, VersionText) {
  auto manager = NewManager();
  Bstr version;
  ASSERT_HR(S_OK, manager->get_Version(version.Out()));
  EXPECT_EQ(version.View(), u"PelkSonquix 2.6.206.203");
  EXPECT_HR(E_POINTER, manager->get_Version(nullptr));
}

TEST_F(ManagerTest, GetFullDiscAsksTheEngineOnlyForPartialDiscs) {
  auto manager = NewManager();
  ASSERT_HR(S_OK, manager->Initialize(fake_->Control().Get()));
  FakeDiscData data{.album = u"Twelve"};
  data.tracks.resize(12);
  FakeDisc disc = fake_->AddDisc(data);
  fake_->ClearCalls();

  ComPtr<IDiscInfo> full = MakeFakeDisc({disc, 3, true});
  ComPtr<IDiscInfo> out;
  ASSERT_HR(S_OK, manager->GetFullDisc(full.Get(), out.Out()));
  EXPECT_EQ(out, full);
  EXPECT_EQ(fake_->CountOf("FetchFullDisc"), 0u);

  ComPtr<IDiscInfo> partial = MakeFakeDisc({disc, 3, false});
  ASSERT_HR(S_OK, manager->GetFullDisc(partial.Get(), out.Out()));
  EXPECT_NE(out, partial);
  int32_t count = 0;
  out->get_TrackCount(&count);
  EXPECT_EQ(count, 12);
  ASSERT_EQ(fake_->CountOf("FetchFullDisc"), 1u);
  EXPECT_EQ(fake_->Calls().back().args, (std::vector<std::u16string>{u"1", u"0"}));

  // A failed fetch hands back the disc itself with the failure.
  fake_->SetFullDiscResult(E_ABORT);
  EXPECT_HR(E_ABORT, manager->GetFullDisc(partial.Get(), out.Out()));
  EXPECT_EQ(out, partial);
  EXPECT_HR(E_INVALIDARG, manager->GetFullDisc(nullptr, out.Out()));
}

TEST_F(ManagerTest, ErrorDescriptions) {
  SetErrorInfo(0, nullptr);
  EXPECT_HR(E_FAIL, SetManagerError(E_FAIL));
  EXPECT_EQ(TakeErrorDescription(), u"");
  EXPECT_HR(PELKSonquix_NoTextAvailable, SetManagerError(PELKSonquix_NoTextAvailable));
  EXPECT_EQ(TakeErrorDescription(), u"No text available");
  const HRESULT unknown = static_cast<HRESULT>(0xC2FE0042u);
  EXPECT_HR(unknown, SetManagerError(unknown));
  EXPECT_EQ(TakeErrorDescription(), u"Unknown error");
  EXPECT_HR(PELKSonquix_FPNotAcquired, SetManagerError(PELKSonquix_FPNotAcquired));
  EXPECT_EQ(TakeErrorDescription(), u"");
}

TEST_F(ManagerTest, SettingsClampAndPriorityMapping) {
  ComPtr<CPelkSonquixSettings> settings = MakeObject<CPelkSonquixSettings>();
  int32_t value = 0;
  settings->get_LibraryIDBatchSize(&value);
  EXPECT_EQ(value, 200);
  settings->get_ThreadPriority(&value);
  EXPECT_EQ(value, SONQUIX_THREAD_PRIORITY_LOWEST);
  settings->put_LibraryIDBatchSize(5);
  settings->get_LibraryIDBatchSize(&value);
  EXPECT_EQ(value, 10);
  settings->put_LibraryIDBatchSize(100001);
  settings->get_LibraryIDBatchSize(&value);
  EXPECT_EQ(value, 100000);
  settings->put_ThreadPriority(7);
  settings->get_ThreadPriority(&value);
  EXPECT_EQ(value, 7);  // stored unchanged
  EXPECT_EQ(WorkerPriority(settings.As<IPelkSonquixSettings>().Get()), kThreadPriorityLowest);
  EXPECT_HR(E_POINTER, settings->get_ThreadPriority(nullptr));

  const int32_t expected[] = {kThreadPriorityLowest,     kThreadPriorityHighest,
                              kThreadPriorityAboveNormal, kThreadPriorityNormal,
                              kThreadPriorityBelowNormal, kThreadPriorityLowest,
                              kThreadPriorityIdle,        kThreadPriorityLowest};
  for (int32_t p = 0; p <= 7; ++p) EXPECT_EQ(MapThreadPriority(p), expected[p]) << p;
  EXPECT_EQ(WorkerPriority(nullptr), kThreadPriorityLowest);
  EXPECT_EQ(LibraryBatchSize(nullptr), 200);
}

TEST_F(ManagerTest, SettingsAreCreatedByInitializeAndReplaceable) {
  auto manager = NewManager();
  ComPtr<IPelkSonquixSettings> settings;
  ASSERT_HR(S_OK, manager->GetSettings(settings.Out()));
  EXPECT_FALSE(settings);
  ASSERT_HR(S_OK, manager->Initialize(fake_->Control().Get()));
  ASSERT_HR(S_OK, manager->GetSettings(settings.Out()));
  ASSERT_TRUE(settings);

  ComPtr<IPelkSonquixSettings> mine = MakeObject<CPelkSonquixSettings>().As<IPelkSonquixSettings>();
  mine->put_ThreadPriority(SONQUIX_THREAD_PRIORITY_IDLE);
  ASSERT_HR(S_OK, manager->PutSettings(mine.Get()));
  ComPtr<IPelkSonquixSettings> back;
  manager->GetSettings(back.Out());
  EXPECT_EQ(back, mine);
  EXPECT_EQ(manager->WorkerThreadPriority(), kThreadPriorityIdle);
  ASSERT_HR(S_OK, manager->PutSettings(nullptr));
  EXPECT_EQ(manager->WorkerThreadPriority(), kThreadPriorityLowest);
  EXPECT_HR(E_POINTER, manager->GetSettings(nullptr));
}

TEST_F(ManagerTest, EventsReachEverySinkAndEitherCanAbort) {
  auto manager = NewManager();
  ComPtr<IConnectionPoint> point;
  ASSERT_HR(S_OK, manager->FindConnectionPoint(DIID__IPELKSonquixManagerEvents, point.Out()));
  EXPECT_HR(CONNECT_E_NOCONNECTION, manager->FindConnectionPoint(IDispatch::kIid, point.Out()));
  manager->FindConnectionPoint(DIID__IPELKSonquixManagerEvents, point.Out());
  auto first = MakeRecordingSink(DIID__IPELKSonquixManagerEvents);
  auto second = MakeRecordingSink(DIID__IPELKSonquixManagerEvents);
  uint32_t c1 = 0, c2 = 0;
  ASSERT_HR(S_OK, point->Advise(first.As<IUnknown>().Get(), &c1));
  ASSERT_HR(S_OK, point->Advise(second.As<IUnknown>().Get(), &c2));

  ManagerEvents& events = manager->Events();
  EXPECT_EQ(events.TrackIDStatusUpdate(STATUS_SONQUIX_LookingUpText, u"/m/a.wav"), 0);
  EXPECT_EQ(events.AlbumIDStatusUpdate(STATUS_ALBUMID_Querying, u"/m/a.wav", 1, 4), 0);
  events.LibraryIDComplete({1, 2, 3, 4, 5, 6});
  second->AbortOn(kEventAlbumIDStatusUpdate, 1);
  EXPECT_EQ(events.AlbumIDStatusUpdate(STATUS_ALBUMID_Queried, u"/m/a.wav", 1, 4), 1);
  first->AbortOn(kEventLibraryIDListStarted, 3);
  EXPECT_EQ(events.LibraryIDListStarted(nullptr, {}), 3);

  const auto calls = first->Calls();
  ASSERT_EQ(calls.size(), 5u);
  EXPECT_EQ(second->Ids(), first->Ids());
  const EventCall& album = calls[1];
  ASSERT_EQ(album.args.size(), 5u);
  EXPECT_EQ(album.args[1].text, u"/m/a.wav");
  EXPECT_EQ(album.args[2].i4, 1);
  EXPECT_EQ(album.args[3].i4, 4);
  ASSERT_EQ(calls[2].args.size(), 6u);
  EXPECT_EQ(calls[2].args[5].i4, 6);
  ASSERT_EQ(calls[4].args.size(), 8u);  // list, six counters, abort

  // The tag a sink hands back reaches the firing code.
  ComPtr<IFileTag> tag = MakeFakeTag({.texts = {{u"Title", u"T"}}});
  second->ReplyObject(kEventGetTag, tag.As<IDispatch>().Get());
  ComPtr<IFileTag> got;
  EXPECT_EQ(events.GetTag(u"/m/a.wav", &got), 0);
  EXPECT_EQ(got, tag);
}

TEST_F(ManagerTest, EveryOperationIsReachableLateBound) {
  auto manager = NewManager();
  ComPtr<IDispatch> dispatch = manager.As<IDispatch>();
  for (const DispatchTable* t = &IPELKSonquixManager3::Table(); t; t = t->base) {
    for (const DispatchEntry& e : t->entries) {
      std::u16string name(e.name);
      OLECHAR* names[] = {name.data()};
      DISPID id = 0;
      EXPECT_HR(S_OK, dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &id));
      EXPECT_EQ(id, e.id);
    }
  }
  Bstr name(u"initialize");
  OLECHAR* names[] = {name.Get()};
  DISPID id = 0;
  ASSERT_HR(S_OK, dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &id));
  VARIANT control;
  VariantInit(&control);
  control.vt = VT_DISPATCH;
  control.pdispVal = fake_->Control().As<IDispatch>().Get();
  DISPPARAMS params{&control, nullptr, 1, 0};
  EXPECT_HR(S_OK, dispatch->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr,
                                   nullptr));
  EXPECT_TRUE(manager->IsInitialized());
}

}  // namespace
}  // namespace pelk::testing
