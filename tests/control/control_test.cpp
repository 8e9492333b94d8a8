#include <gtest/gtest.h>

#include "control/lookup_control.h"
#include "tests/support/fake_control.h"
#include "tests/support/hr_matchers.h"

namespace pelk::testing {
namespace {

class ControlTest : public ::testing::Test {
 protected:
  std::shared_ptr<FakeLookupControl> fake_ = FakeLookupControl::Create();
  FakeDisc blue_ = fake_->AddDisc({.album = u"Blue",
                                   .artist = u"Joni",
                                   .identifier = u"D-1",
                                   .certified_level = u"2",
                                   .tracks = {{u"All I Want"}, {u"My Old Man"}, {u"Little Green"}}});
};

// Every control interface publishes its operations by name; an extended interface finds its
// base's operations too.
TEST_F(ControlTest, OperationsAreReachableLateBound) {
  ComPtr<IDispatch> disc = MakeFakeDisc({blue_, 2, true}).As<ILegacyDisc>().As<IDispatch>();
  OLECHAR name[] = u"albumtitle";
  OLECHAR* names[] = {name};
  DISPID id = 0;
  ASSERT_HR(S_OK, disc->GetIDsOfNames(IID_NULL, names, 1, 0, &id));
  EXPECT_EQ(ILegacyDisc::Table().FindName(u"GetTrackTitle")->id, 4);

  DISPPARAMS none{nullptr, nullptr, 0, 0};
  VARIANT result;
  VariantInit(&result);
  ASSERT_HR(S_OK, disc->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr,
                               nullptr));
  EXPECT_EQ(BstrView(result.bstrVal), u"Blue");
  VariantClear(&result);

  VARIANT track;
  VariantInit(&track);
  track.vt = VT_I4;
  track.lVal = 3;
  DISPPARAMS one{&track, nullptr, 1, 0};
  ASSERT_HR(S_OK, disc->Invoke(4, IID_NULL, 0, DISPATCH_METHOD, &one, &result, nullptr, nullptr));
  EXPECT_EQ(BstrView(result.bstrVal), u"Little Green");
  VariantClear(&result);

  // Ids are unique along every interface chain, so no extended operation shadows a base one.
  for (const DispatchTable* table :
       {&IMediaFileTag::Table(), &ILegacyDisc::Table(), &ILookupEngine::Table()}) {
    for (const DispatchTable* a = table; a; a = a->base) {
      for (const DispatchEntry& e : a->entries) {
        for (const DispatchTable* b = a->base; b; b = b->base) {
          for (const DispatchEntry& f : b->entries) EXPECT_NE(e.id, f.id) << "id " << e.id;
        }
      }
    }
  }
}

TEST_F(ControlTest, FakeAnswersAsScriptedAndRecordsTheCalls) {
  fake_->ScriptText(u"My Old Man", {.kind = kLookupOne, .discs = {{blue_, 2}}});
  ComPtr<ILookupEngine> engine = fake_->Engine();
  ComPtr<IFileTag> tag = MakeFakeTag({.texts = {{u"Title", u"My Old Man"}}});
  int32_t kind = 1;
  Bstr file(u"/music/x.wav");
  ASSERT_HR(S_OK, engine->TextLookup(file.Get(), tag.Get(), 0, &kind));
  EXPECT_EQ(kind, kLookupOne);

  ComPtr<IDiscInfo> disc;
  ASSERT_HR(S_OK, fake_->Control()->GetSingleMatch(disc.Out()));
  int32_t count = 0, current = 0;
  disc->get_TrackCount(&count);
  disc->get_CurrentTrack(&current);
  EXPECT_EQ(count, 1);  // a lookup answers with the matched track only
  EXPECT_EQ(current, 2);
  Bstr title;
  EXPECT_HR(E_INVALIDARG, disc->GetTrackTitle(1, title.Out()));
  Bstr total;
  Bstr key(u"track_count");
  disc->GetNamedText(key.Get(), total.Out());
  EXPECT_EQ(total.View(), u"3");

  ComPtr<IDiscInfo> full;
  ASSERT_HR(S_OK, engine->FetchFullDisc(disc.Get(), 1, 0, full.Out()));
  full->get_TrackCount(&count);
  EXPECT_EQ(count, 3);
  int32_t same = 0;
  ASSERT_HR(S_OK, engine->IsSameDisc(disc.Get(), full.Get(), 0, &same));
  EXPECT_EQ(same, 1);

  EXPECT_EQ(fake_->CallNames(),
            (std::vector<std::string>{"TextLookup", "GetSingleMatch", "FetchFullDisc",
                                      "IsSameDisc"}));
}

TEST_F(ControlTest, CreatableObjectsComeByClassIdentifier) {
  fake_->InstallAsLibrary();
  fake_->SetFileTag(u"/m/a.wma", {.texts = {{u"Artist", u"Joni"}}});
  ComPtr<IMediaFileTag> media;
  ASSERT_HR(S_OK, FakeControlGetObject(CLSID_PelkMediaFileTag, IMediaFileTag::kIid,
                                       media.OutVoid()));
  Bstr file(u"/m/a.wma");
  ASSERT_HR(S_OK, media->AttachToFile(file.Get(), 0));
  Bstr artist;
  media->get_Artist(artist.Out());
  EXPECT_EQ(artist.View(), u"Joni");

  ComPtr<IDiscTagBuilder> builder;
  ASSERT_HR(S_OK, FakeControlGetObject(CLSID_PelkDiscTagBuilder, IDiscTagBuilder::kIid,
                                       builder.OutVoid()));
  ComPtr<IFileTag> built;
  ComPtr<IDiscInfo> disc = MakeFakeDisc({blue_, 1, true});
  ASSERT_HR(S_OK, builder->BuildTag(disc.Get(), 3, built.Out()));
  EXPECT_EQ(TagDataOf(built.Get()).texts[u"Title"], u"Little Green");
  EXPECT_EQ(TagDataOf(built.Get()).texts[u"TrackNumber"], u"3");

  void* none = nullptr;
  EXPECT_HR(CLASS_E_CLASSNOTAVAILABLE, FakeControlGetObject(GUID_NULL, IUnknown::kIid, &none));
}

}  // namespace
}  // namespace pelk::testing
