// Album identification hands back every file it is given: in an accepted album, in a list of
// its own, or among the unidentified rest, whatever the catalogue's discs look like.
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <set>

#include "model/file_info_lists.h"
#include "runtime/utf.h"
#include "tests/manager/identification_fixture.h"
#include "tests/support/pcm_synth.h"

namespace pelk::testing {
namespace {

// Tags come from the records, lookups are by text only.
constexpr int32_t kSingle =
    SONQUIX_RETURN_SINGLE | SONQUIX_DISABLE_WF_QUERIES | SONQUIX_GET_TAG_FROM_APP;
constexpr int32_t kAll = SONQUIX_RETURN_ALL | SONQUIX_DISABLE_WF_QUERIES | SONQUIX_GET_TAG_FROM_APP;

std::u16string U(const std::string& text) { return Utf8ToUtf16(text); }

class AlbumConservationTest : public IdentificationTest {
 protected:
  // Where a file truly belongs: the album and track, or nothing for a file the catalogue lacks.
  struct Truth {
    std::u16string album;
    int32_t track = 0;
  };

  void SetUp() override {
    IdentificationTest::SetUp();
    // A whole album, tagged.
    FakeDiscData whole{.album = u"Whole", .artist = u"The Band"};
    for (int32_t t = 1; t <= 6; ++t) whole.tracks.push_back({U("Whole Song " + std::to_string(t))});
    FakeDisc whole_disc = fake_->AddDisc(std::move(whole));
    for (int32_t t = 1; t <= 6; ++t) Tagged(whole_disc, t);

    // A partial album catalogued by counting files: tracks 2, 6-15 and 21-24 on a disc that
    // says it has 15. The tracks beyond the count are untagged copies found by file name.
    FakeDiscData partial{.album = u"Partial", .artist = u"Gap Band", .track_count = 15};
    for (int32_t t = 1; t <= 24; ++t)
      partial.tracks.push_back({U("Gap Song " + std::to_string(t))});
    partial_ = fake_->AddDisc(std::move(partial));
    Tagged(partial_, 2);
    for (int32_t t = 6; t <= 15; ++t) Tagged(partial_, t);
    for (int32_t t = 21; t <= 24; ++t) Untagged(partial_, t);

    // Files the catalogue does not know, and short clips without tag or fingerprint.
    for (int32_t i = 1; i <= 3; ++i) {
      const std::u16string name = U("/m/unknown/" + std::to_string(i) + ".wav");
      files_.push_back(TaggedFile(
          name, {.texts = {{u"Artist", u"Nobody"}, {u"Title", U("Lost " + std::to_string(i))}}}));
      truth_[name] = {};
    }
    for (int32_t i = 1; i <= 2; ++i) {
      const std::u16string name = U("/m/clips/" + std::to_string(i) + ".wav");
      files_.push_back(File(name));
      truth_[name] = {};
    }
  }

  void Tagged(const FakeDisc& disc, int32_t track) {
    const std::u16string title = disc->tracks[static_cast<size_t>(track - 1)].title;
    const std::u16string name = U("/m/") + disc->album + U("/" + std::to_string(track) + ".wav");
    fake_->ScriptText(title, {.kind = kLookupOne, .discs = {{disc, track}}});
    files_.push_back(TaggedFile(
        name,
        {.texts = {{u"Artist", disc->artist}, {u"AlbumTitle", disc->album}, {u"Title", title}}}));
    truth_[name] = {disc->album, track};
  }
  void Untagged(const FakeDisc& disc, int32_t track) {
    const std::u16string name = U("/m/copies/track" + std::to_string(track) + ".wav");
    fake_->ScriptText(name, {.kind = kLookupOne, .discs = {{disc, track}}});
    files_.push_back(File(name));
    truth_[name] = {disc->album, track};
  }

  // Fresh records for these files (identification writes onto the records it is given).
  ComPtr<CPelkFileInfoList> Batch(const std::vector<ComPtr<CPelkFileInfo>>& files) {
    auto list = MakeObject<CPelkFileInfoList>();
    for (const auto& file : files) {
      auto copy = MakeObject<CPelkFileInfo>();
      file->CopyPropertiesTo(copy.Get());
      list->AddFileInfo(copy.Get());
    }
    return list;
  }

  struct Answer {
    int32_t list_code = 0;
    std::u16string album;  // of the record's disc, empty without one
    int32_t track = 0;
  };
  // Every record of every returned list, by file name (a file may appear more than once).
  static std::multimap<std::u16string, Answer> Answers(IPelkFileInfoLists* lists) {
    std::multimap<std::u16string, Answer> answers;
    int32_t n = 0;
    if (!lists || FAILED(lists->get_Count(&n))) return answers;
    for (int32_t i = 1; i <= n; ++i) {
      ComPtr<IPelkFileInfoList> list;
      lists->GetFileInfoList(i, list.Out());
      int32_t code = 0;
      list->GetListMatchCode(&code);
      for (const ComPtr<IPelkFileInfo>& entry : ImplOf<CPelkFileInfoList>(list.Get())->Records()) {
        Answer answer{code};
        Bstr name;
        entry->get_Filename(name.Out());
        ComPtr<IDiscInfo> disc;
        entry->get_Disc(disc.Out());
        if (disc) {
          Bstr album;
          disc->get_AlbumTitle(album.Out());
          answer.album = album.View();
        }
        entry->get_TrackNum(&answer.track);
        answers.emplace(std::u16string(name.View()), answer);
      }
    }
    return answers;
  }

  FakeDisc partial_;
  std::vector<ComPtr<CPelkFileInfo>> files_;
  std::map<std::u16string, Truth> truth_;
};

TEST_F(AlbumConservationTest, AFileBeyondItsDiscsCountIsAnsweredAlone) {
  ComPtr<IPelkFileInfoLists> lists;
  int32_t code = 0;
  auto one = Batch({File(u"/m/copies/track21.wav")});
  ASSERT_HR(S_OK, manager_->AlbumID(one.Get(), kSingle, &code, lists.Out()));
  const auto answers = Answers(lists.Get());
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(code, 3);
  const Answer& answer = answers.begin()->second;
  EXPECT_EQ(answer.list_code, LIST_MATCH_TRACK_SINGLE);
  EXPECT_EQ(answer.album, u"Partial");
  EXPECT_EQ(answer.track, 21);
}

TEST_F(AlbumConservationTest, EveryFileComesBackExactlyOnceInShuffledBatches) {
  for (uint32_t seed : {1u, 2u, 3u}) {
    for (size_t batch_size : {size_t{1}, size_t{4}, size_t{9}, files_.size()}) {
      std::vector<ComPtr<CPelkFileInfo>> order = files_;
      std::mt19937 random(seed);
      std::shuffle(order.begin(), order.end(), random);
      for (size_t start = 0; start < order.size(); start += batch_size) {
        const std::vector<ComPtr<CPelkFileInfo>> part(
            order.begin() + static_cast<std::ptrdiff_t>(start),
            order.begin() +
                static_cast<std::ptrdiff_t>(std::min(order.size(), start + batch_size)));
        SCOPED_TRACE("seed " + std::to_string(seed) + ", batch size " + std::to_string(batch_size) +
                     " from " + std::to_string(start));
        ComPtr<IPelkFileInfoLists> lists;
        int32_t code = 0;
        auto batch = Batch(part);
        ASSERT_HR(S_OK, manager_->AlbumID(batch.Get(), kSingle, &code, lists.Out()));
        const auto answers = Answers(lists.Get());

        std::set<std::u16string> given;
        for (const auto& file : part) {
          Bstr name;
          file->get_Filename(name.Out());
          given.insert(std::u16string(name.View()));
          EXPECT_EQ(answers.count(std::u16string(name.View())), 1u) << Utf16ToUtf8(name.View());
        }
        for (const auto& [name, answer] : answers) {
          EXPECT_TRUE(given.count(name)) << Utf16ToUtf8(name) << " was not given";
          const Truth& truth = truth_[name];
          // An accepted album holds only files of its own disc, each on its own track; the
          // copies beyond the count are answered with their own track too.
          if (answer.list_code == LIST_MATCH_ALBUM_SINGLE || !truth.album.empty()) {
            EXPECT_EQ(answer.album, truth.album) << Utf16ToUtf8(name);
            EXPECT_EQ(answer.track, truth.track) << Utf16ToUtf8(name);
          }
        }
        // With every file in one batch both albums are accepted.
        if (part.size() == files_.size()) {
          std::map<std::u16string, int> accepted;
          for (const auto& [name, answer] : answers) {
            if (answer.list_code == LIST_MATCH_ALBUM_SINGLE) ++accepted[answer.album];
          }
          EXPECT_EQ(accepted, (std::map<std::u16string, int>{{u"Whole", 6}, {u"Partial", 11}}));
        }
      }
    }
  }
}

TEST_F(AlbumConservationTest, ClipsTooShortToFingerprintComeBackToo) {
  // The module fingerprints every file itself: the clips are real but far too short, the
  // other files do not exist at all.
  const auto dir =
      std::filesystem::temp_directory_path() / ("pelk-conservation-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::vector<ComPtr<CPelkFileInfo>> files = files_;
  for (int32_t i = 1; i <= 2; ++i) {
    const auto path = dir / ("clip" + std::to_string(i) + ".wav");
    WriteFile(path,
              MakeWav({11025, 16, 1}, EncodePcm(Music(static_cast<uint32_t>(i), 11025, 2205), 16)));
    files.push_back(File(Utf8ToUtf16(path.string())));
  }
  ComPtr<IPelkFileInfoLists> lists;
  int32_t code = 0;
  auto batch = Batch(files);
  ASSERT_HR(S_OK,
            manager_->AlbumID(batch.Get(), kSingle | SONQUIX_GET_FP_INTERNAL, &code, lists.Out()));
  const auto answers = Answers(lists.Get());
  EXPECT_EQ(answers.size(), files.size());
  for (const auto& file : files) {
    Bstr name;
    file->get_Filename(name.Out());
    EXPECT_EQ(answers.count(std::u16string(name.View())), 1u) << Utf16ToUtf8(name.View());
  }
  std::filesystem::remove_all(dir);
}

TEST_F(AlbumConservationTest, EveryCandidateModeNamesEveryFile) {
  ComPtr<IPelkFileInfoLists> lists;
  int32_t code = 0;
  auto batch = Batch(files_);
  ASSERT_HR(S_OK, manager_->AlbumID(batch.Get(), kAll, &code, lists.Out()));
  EXPECT_EQ(code, 2);
  const auto answers = Answers(lists.Get());
  for (const auto& [name, truth] : truth_) EXPECT_GE(answers.count(name), 1u) << Utf16ToUtf8(name);
}

}  // namespace
}  // namespace pelk::testing
