// Shared set-up of the identification suites: an initialized manager on the fake control (also
// installed as the control library, so the manager creates its tags there) with a recording
// sink advised, and small builders of records and fingerprints.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "fingerprint/sonquix_fingerprint.h"
#include "manager/sonquix_manager.h"
#include "model/file_info.h"
#include "model/file_info_list.h"
#include "tests/support/event_sink.h"
#include "tests/support/fake_control.h"
#include "tests/support/hr_matchers.h"

namespace pelk::testing {

class IdentificationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_HR(S_OK, manager_->Initialize(fake_->Control().Get()));
    ComPtr<IConnectionPoint> point;
    ASSERT_HR(S_OK, manager_->FindConnectionPoint(DIID__IPELKSonquixManagerEvents, point.Out()));
    uint32_t cookie = 0;
    ASSERT_HR(S_OK, point->Advise(sink_.As<IUnknown>().Get(), &cookie));
    fake_->ClearCalls();
  }
  void TearDown() override { manager_->Shutdown(); }

  static ComPtr<CPelkFileInfo> File(const std::u16string& path) {
    auto record = MakeObject<CPelkFileInfo>();
    record->put_Filename(Bstr(path).Get());
    return record;
  }
  static ComPtr<CPelkFileInfo> TaggedFile(const std::u16string& path, FakeTagData tag) {
    auto record = File(path);
    record->put_Tag(MakeFakeTag(std::move(tag)).Get());
    return record;
  }
  // A fingerprint whose signature is the given text.
  static ComPtr<IPelkSonquixFingerprint> Fingerprint(const std::string& signature) {
    const std::string document =
        "<FINGERPRINT ALG=\"W\" VERSION=\"1.0\"><DATA TYPE=\"SIGNED_INT_16\" COUNT=\"1\">" +
        signature + "</DATA></FINGERPRINT>";
    auto fingerprint = MakeObject<CPelkSonquixFingerprint>();
    fingerprint->SetFPData(document.data(), static_cast<int32_t>(document.size()));
    return fingerprint.As<IPelkSonquixFingerprint>();
  }
  FakeDisc Album(std::u16string artist, std::u16string album, std::vector<std::u16string> titles,
                 std::u16string identifier = u"") {
    FakeDiscData data{.album = std::move(album),
                      .artist = std::move(artist),
                      .identifier = std::move(identifier)};
    for (auto& title : titles) data.tracks.push_back({.title = std::move(title)});
    return fake_->AddDisc(std::move(data));
  }

  struct Result {
    HRESULT hr = S_OK;
    int32_t match_code = 0;
    ComPtr<IPelkFileInfoList> list;
    int32_t list_code = 0;
    int32_t Count() const {
      int32_t n = 0;
      if (list) list->get_Count(&n);
      return n;
    }
    ComPtr<CPelkFileInfo> Entry(int32_t i) const {
      ComPtr<IPelkFileInfo> entry;
      if (list) list->GetFileInfo(i, entry.Out());
      return ImplOf<CPelkFileInfo>(entry.Get());
    }
  };
  Result Identify(CPelkFileInfo* record, int32_t options) {
    Result result;
    result.hr = manager_->TrackID(record, options, &result.match_code, result.list.Out());
    if (result.list) result.list->GetListMatchCode(&result.list_code);
    return result;
  }
  // The statuses of the TrackIDStatusUpdate events so far, in order.
  std::vector<int32_t> Statuses() const {
    std::vector<int32_t> statuses;
    for (const EventCall& call : sink_->Calls()) {
      if (call.id == kEventTrackIDStatusUpdate) statuses.push_back(call.args[0].i4);
    }
    return statuses;
  }

  std::shared_ptr<FakeLookupControl> fake_ = FakeLookupControl::Create();
  ScopedControlLibrary library_{*fake_};
  ComPtr<CPELKSonquixManager> manager_ = MakeObject<CPELKSonquixManager>();
  ComPtr<RecordingSink> sink_ = MakeRecordingSink(DIID__IPELKSonquixManagerEvents);
};

inline int32_t MatchTypeOf(CPelkFileInfo* record) {
  int32_t type = 0;
  record->get_MatchType(&type);
  return type;
}

inline int32_t SonquixCodeOf(IPelkFileInfo* record) {
  int32_t code = -1;
  record->get_SonquixMatchCode(&code);
  return code;
}

}  // namespace pelk::testing
