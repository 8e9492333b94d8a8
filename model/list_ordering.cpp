#include "model/list_ordering.h"

#include <array>

#include "model/file_info.h"
#include "runtime/bstr.h"
#include "runtime/decimal.h"
#include "text/case_fold.h"

namespace pelk {
namespace {

// A sort key read into a fixed buffer of `size` characters, as far as its terminator.
template <size_t size>
std::u16string ReadKey(CPelkFileInfo* record, HRESULT (CPelkFileInfo::*get)(char16_t*, size_t)) {
  std::array<char16_t, size> buffer{};
  if (record) (record->*get)(buffer.data(), size);
  return std::u16string(buffer.data());
}

// The metadata comparison: an empty text after a non-empty one, otherwise ignoring case.
int CompareMetadataText(std::u16string_view a, std::u16string_view b) {
  if (a.empty() != b.empty()) return a.empty() ? 1 : -1;
  return text::CompareIgnoreCase(a, b);
}

int32_t DecimalOf(IDiscInfo* disc, HRESULT (IDiscInfo::*get)(BSTR*)) {
  Bstr value;
  if (!disc || FAILED((disc->*get)(value.Out()))) return 0;
  return DecimalValue(value.View());
}

}  // namespace

bool IsVariousArtistsDisc(IDiscInfo* disc) {
  if (!disc) return false;
  int32_t compilation = 0;
  if (SUCCEEDED(disc->get_IsCompilation(&compilation)) && compilation != 0) return true;
  Bstr artist;
  return SUCCEEDED(disc->get_Artist(artist.Out())) && artist.View() == u"Various Artists";
}

int32_t OrderingFacts::TrackNum() {
  if (!track_num_) {
    int32_t value = 0;
    if (!record_ || FAILED(record_->get_TrackNum(&value))) value = 0;
    track_num_ = value;
  }
  return *track_num_;
}

int32_t OrderingFacts::MatchType() {
  if (!match_type_) {
    int32_t value = 14;
    if (!record_ || FAILED(record_->get_MatchType(&value))) value = 14;
    match_type_ = value;
  }
  return *match_type_;
}

int32_t OrderingFacts::Score() {
  if (!score_) {
    int32_t value = 0;
    if (!record_ || FAILED(record_->GetScore(&value))) value = 0;
    score_ = value;
  }
  return *score_;
}

bool OrderingFacts::HighConfidence() {
  if (!high_confidence_) {
    bool flag = false;
    if (!record_ || FAILED(record_->IsHighConfidence(&flag))) flag = false;
    high_confidence_ = flag;
  }
  return *high_confidence_;
}

IDiscInfo* OrderingFacts::Disc() {
  if (!disc_read_) {
    disc_read_ = true;
    if (record_ && FAILED(record_->get_Disc(disc_.Out()))) disc_.Reset();
  }
  return disc_.Get();
}

bool OrderingFacts::HasDisc() { return Disc() != nullptr; }

bool OrderingFacts::VariousArtists() {
  if (!various_artists_) various_artists_ = IsVariousArtistsDisc(Disc());
  return *various_artists_;
}

int32_t OrderingFacts::CertifiedLevel() {
  if (!certified_level_) {
    int32_t value = 0;
    if (IDiscInfo* disc = Disc()) {
      Bstr name(u"certified_level"), text;
      if (SUCCEEDED(disc->GetNamedText(name.Get(), text.Out()))) value = DecimalValue(text.View());
    }
    certified_level_ = value;
  }
  return *certified_level_;
}

int32_t OrderingFacts::ReleaseRank() {
  if (!release_rank_) release_rank_ = DecimalOf(Disc(), &IDiscInfo::get_ReleaseRank);
  return *release_rank_;
}

int32_t OrderingFacts::ElementRank() {
  if (!element_rank_) {
    int32_t rank = 0;
    ComPtr<IDataListElement> element;
    if (record_ && SUCCEEDED(record_->GetDataListElement(1, 0, element.Out())) && element) {
      int32_t first = 0;
      rank = SUCCEEDED(element->GetValue(1, &first)) && first != 0 ? 2 : 1;
    }
    element_rank_ = rank;
  }
  return *element_rank_;
}

std::u16string_view OrderingFacts::SortFolder() {
  if (!folder_) {
    folder_ = ReadKey<CPelkFileInfo::kSortFolderSize>(record_, &CPelkFileInfo::get_SortFolder);
  }
  return *folder_;
}

std::u16string_view OrderingFacts::SortAlbum() {
  if (!album_)
    album_ = ReadKey<CPelkFileInfo::kSortTextSize>(record_, &CPelkFileInfo::get_SortAlbum);
  return *album_;
}

std::u16string_view OrderingFacts::SortArtist() {
  if (!artist_) {
    artist_ = ReadKey<CPelkFileInfo::kSortTextSize>(record_, &CPelkFileInfo::get_SortArtist);
  }
  return *artist_;
}

std::u16string_view OrderingFacts::SortFilenamePrefix() {
  if (!filename_prefix_) {
    filename_prefix_ =
        ReadKey<CPelkFileInfo::kSortFilenamePrefixSize>(record_, &CPelkFileInfo::get_SortFilename);
  }
  return *filename_prefix_;
}

bool TrackNumBefore(OrderingFacts& a, OrderingFacts& b) {
  if (!a.HasRecord()) return false;
  if (!b.HasRecord()) return true;
  return a.TrackNum() < b.TrackNum();
}

bool MatchTypeBefore(OrderingFacts& a, OrderingFacts& b) {
  if (!a.HasRecord()) return false;
  if (!b.HasRecord()) return true;
  return a.MatchType() < b.MatchType();
}

bool FolderBefore(OrderingFacts& a, OrderingFacts& b) {
  if (!a.HasRecord()) return false;
  if (!b.HasRecord()) return true;
  return text::CompareIgnoreCase(a.SortFolder(), b.SortFolder()) < 0;
}

bool MetadataBefore(OrderingFacts& a, OrderingFacts& b) {
  if (!a.HasRecord()) return false;
  if (!b.HasRecord()) return true;
  if (int c = CompareMetadataText(a.SortAlbum(), b.SortAlbum()); c != 0) return c < 0;
  if (int c = CompareMetadataText(a.SortArtist(), b.SortArtist()); c != 0) return c < 0;
  return CompareMetadataText(a.SortFilenamePrefix(), b.SortFilenamePrefix()) < 0;
}

}  // namespace pelk
