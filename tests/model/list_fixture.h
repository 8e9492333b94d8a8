// Shared set-up of the list tests: the fake control installed as the control library and as
// the module's shared control, and small builders of records.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "control/control_objects.h"
#include "control/current_control.h"
#include "model/file_info_list.h"
#include "tests/support/fake_control.h"
#include "tests/support/hr_matchers.h"

namespace pelk::testing {

class ListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_->InstallAsLibrary();
    static int handle;
    SetControlGetters(&handle, &FakeControlGetObject, nullptr);
    SetControlFallbackDisabled(1);
    Shared() = fake_;
    SetLookupControlSource(&SharedControl);
  }
  void TearDown() override {
    SetLookupControlSource(nullptr);
    Shared().reset();
    SetControlGetters(nullptr, nullptr, nullptr);
    SetControlFallbackDisabled(0);
  }

 public:
  static std::shared_ptr<FakeLookupControl>& Shared() {
    static std::shared_ptr<FakeLookupControl> shared;
    return shared;
  }
  static ComPtr<ILookupControl> SharedControl() { return Shared() ? Shared()->Control() : nullptr; }

  static ComPtr<IFileTag> Tag(std::u16string artist, std::u16string album, std::u16string title) {
    return MakeFakeTag({.texts = {{u"Artist", artist}, {u"AlbumTitle", album}, {u"Title", title}}});
  }
  static ComPtr<CPelkFileInfo> Named(const std::u16string& path) {
    auto record = MakeObject<CPelkFileInfo>();
    EXPECT_HR(S_OK, record->put_Filename(Bstr(path).Get()));
    return record;
  }
  // A record for a file with the given tag (album and artist are what metadata order reads).
  static ComPtr<CPelkFileInfo> Tagged(const std::u16string& path, std::u16string artist,
                                      std::u16string album) {
    auto record = Named(path);
    EXPECT_HR(S_OK, record->put_Tag(Tag(std::move(artist), std::move(album), u"t").Get()));
    return record;
  }
  // A candidate: a record on track `track` of disc, with a match type and match code.
  static ComPtr<CPelkFileInfo> OnDisc(const FakeDisc& disc, int32_t track, int32_t match_type,
                                      int32_t code = SONQUIX_MATCH_FUZZY,
                                      const std::u16string& path = u"/m/x.mp3") {
    auto record = Named(path);
    EXPECT_HR(S_OK, record->put_Disc(MakeFakeDisc({disc, track, true}).Get()));
    EXPECT_HR(S_OK, record->put_TrackNum(track));
    EXPECT_HR(S_OK, record->put_MatchType(match_type));
    EXPECT_HR(S_OK, record->put_SonquixMatchCode(code));
    return record;
  }
  static ComPtr<CPelkFileInfoList> ListOf(std::initializer_list<ComPtr<CPelkFileInfo>> records) {
    auto list = MakeObject<CPelkFileInfoList>();
    for (const auto& record : records) EXPECT_HR(S_OK, list->AddFileInfo(record.Get()));
    return list;
  }
  // The records of a list as implementation pointers, in order.
  static std::vector<CPelkFileInfo*> Order(CPelkFileInfoList* list) {
    std::vector<CPelkFileInfo*> order;
    for (const auto& record : list->Records())
      order.push_back(ImplOf<CPelkFileInfo>(record.Get()).Get());
    return order;
  }
  static int32_t CountOf(IPelkFileInfoList* list) {
    int32_t count = -1;
    EXPECT_HR(S_OK, list->get_Count(&count));
    return count;
  }
  static int32_t ScoreOf(CPelkFileInfo* record) {
    int32_t score = -7;
    EXPECT_HR(S_OK, record->GetScore(&score));
    return score;
  }

  // A record on track 7 of Blue whose own tag makes it score exactly `score` (found once by
  // degrading the tag's title and artist step by step); fails the test when no tag does.
  ComPtr<CPelkFileInfo> Scoring(int32_t score, int32_t match_type, const FakeDisc* disc = nullptr) {
    static std::map<int32_t, ComPtr<IFileTag>> tags;
    if (tags.empty()) {
      const std::u16string title = u"This Flight Tonight", artist = u"Joni Mitchell";
      auto probe = OnDisc(blue_, 7, MATCH_TYPE_TXT);
      for (size_t t = 0; t <= title.size(); ++t) {
        for (size_t a = 0; a <= artist.size(); ++a) {
          ComPtr<IFileTag> tag =
              Tag(artist.substr(0, artist.size() - a) + std::u16string(a, u'q'), u"Blue",
                  title.substr(0, title.size() - t) + std::u16string(t, u'x'));
          probe->put_OrigTag(tag.Get());
          tags.emplace(ScoreOf(probe.Get()), tag);
        }
      }
    }
    auto record = OnDisc(disc ? *disc : blue_, 7, match_type);
    EXPECT_TRUE(tags.count(score)) << "no probe tag scores " << score;
    if (tags.count(score)) record->put_OrigTag(tags[score].Get());
    return record;
  }

  std::shared_ptr<FakeLookupControl> fake_ = FakeLookupControl::Create();
  FakeDisc blue_ = fake_->AddDisc({.album = u"Blue",
                                   .artist = u"Joni Mitchell",
                                   .identifier = u"DISC-BLUE",
                                   .tracks = {{u"All I Want"},
                                              {u"My Old Man"},
                                              {u"Little Green"},
                                              {u"Carey"},
                                              {u"Blue"},
                                              {u"California"},
                                              {u"This Flight Tonight"},
                                              {u"A Case of You"}}});
};

}  // namespace pelk::testing
