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
    Shared() = fake_;
    SetLookupControlSource(&SharedControl);
  }
  void TearDown() override {
    SetLookupControlSource(nullptr);
    Shared().reset();
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
    record->put_Filename(Bstr(path).Get());
    return record;
  }
  // A file with a tag (album and artist are what metadata order reads).
  static ComPtr<CPelkFileInfo> Tagged(const std::u16string& path, std::u16string artist,
                                      std::u16string album) {
    auto record = Named(path);
    record->put_Tag(Tag(std::move(artist), std::move(album), u"t").Get());
    return record;
  }
  // A candidate on track `track` of disc.
  static ComPtr<CPelkFileInfo> OnDisc(const FakeDisc& disc, int32_t track, int32_t match_type,
                                      int32_t code = SONQUIX_MATCH_FUZZY,
                                      const std::u16string& path = u"/m/x.mp3") {
    auto record = Named(path);
    record->put_Disc(MakeFakeDisc({disc, track, true}).Get());
    record->put_TrackNum(track);
    record->put_MatchType(match_type);
    record->put_SonquixMatchCode(code);
    return record;
  }
  static ComPtr<CPelkFileInfoList> ListOf(std::initializer_list<ComPtr<CPelkFileInfo>> records) {
    auto list = MakeObject<CPelkFileInfoList>();
    for (const auto& record : records) EXPECT_HR(S_OK, list->AddFileInfo(record.Get()));
    return list;
  }
  static std::vector<CPelkFileInfo*> Order(CPelkFileInfoList* list) {
    std::vector<CPelkFileInfo*> order;
    for (const auto& r : list->Records()) order.push_back(ImplOf<CPelkFileInfo>(r.Get()).Get());
    return order;
  }
  static int32_t CountOf(IPelkFileInfoList* list) {
    int32_t count = -1;
    EXPECT_HR(S_OK, list->get_Count(&count));
    return count;
  }

  // A candidate on track 7 of Blue whose own tag makes it score exactly `score` (tags found once
  // by degrading the title and artist step by step).
  ComPtr<CPelkFileInfo> Scoring(int32_t score, int32_t match_type, const FakeDisc* disc = nullptr) {
    static std::map<int32_t, ComPtr<IFileTag>> tags;
    static bool probed = false;
    const std::u16string title = u"This Flight Tonight", artist = u"Joni Mitchell";
    for (size_t t = 0; !probed && t <= title.size(); ++t) {
      for (size_t a = 0; a <= artist.size(); ++a) {
        ComPtr<IFileTag> tag =
            Tag(artist.substr(0, a) + std::u16string(artist.size() - a, u'q'), u"Blue",
                title.substr(0, t) + std::u16string(title.size() - t, u'x'));
        auto probe = OnDisc(blue_, 7, MATCH_TYPE_TXT);
        probe->put_OrigTag(tag.Get());
        int32_t value = 0;
        probe->GetScore(&value);
        tags.emplace(value, tag);
      }
    }
    probed = true;
    auto record = OnDisc(disc ? *disc : blue_, 7, match_type);
    EXPECT_TRUE(tags.count(score)) << "no probe tag scores " << score;
    if (tags.count(score)) record->put_OrigTag(tags[score].Get());
    return record;
  }

  std::shared_ptr<FakeLookupControl> fake_ = FakeLookupControl::Create();
  ScopedControlLibrary library_{*fake_};
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
