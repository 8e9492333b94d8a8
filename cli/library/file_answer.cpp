#include "cli/library/file_answer.h"

#include "cli/track_identification.h"
#include "model/track_scorer.h"
#include "runtime/bstr.h"
#include "runtime/utf.h"

namespace pelk::cli {
namespace {

template <class I>
std::string Text(I* object, HRESULT (I::*get)(BSTR*)) {
  Bstr value;
  if (!object || FAILED((object->*get)(value.Out()))) return {};
  return value.Utf8();
}

std::string FoundBy(int32_t match_type, bool had_tag_text) {
  switch (match_type) {
    case MATCH_TYPE_TAGID:
      return "the catalogue identifier in the file's tag";
    case MATCH_TYPE_ITUNESID:
      return "the store identifiers in the file's tag";
    case MATCH_TYPE_ALBUM_ASSOCIATED:
      return "association with an album found for other files";
    case MATCH_TYPE_WF:
    case MATCH_TYPE_WF_HINT:
      return "a fingerprint lookup";
    case MATCH_TYPE_TXT_ON_WF:
      return "a text lookup on what the fingerprint candidates suggest";
    case MATCH_TYPE_TXT:
    case MATCH_TYPE_TXT_HINT:
    case MATCH_TYPE_TXT_ALBUM_LEVEL:
      return had_tag_text ? "a text lookup on the file's tag"
                          : "a text lookup on the file's name and folders";
    case MATCH_TYPE_ALBUM_AND_TITLE:
      return "a text lookup on the tag's album and title";
    case MATCH_TYPE_NONE:
      return "nothing matched";
    default:
      return MatchTypeName(match_type);
  }
}

bool IsWaveformType(int32_t match_type) {
  return match_type == MATCH_TYPE_WF || match_type == MATCH_TYPE_WF_HINT ||
         match_type == MATCH_TYPE_TXT_ON_WF;
}

}  // namespace

FileAnswer MissingFileAnswer(const std::string& file) {
  FileAnswer a = FailedFileAnswer(file, "no answer was returned for this file");
  a.found_by = "nothing: the file came back in no result list";
  return a;
}

FileAnswer FailedFileAnswer(const std::string& file, std::string why) {
  FileAnswer a;
  a.file = file;
  a.match_code = SONQUIX_MATCH_ERROR;
  a.match_type = MATCH_TYPE_NONE;
  a.certainty = "error";
  a.found_by = "nothing: the identification failed";
  a.confidence = std::move(why);
  return a;
}

FileAnswer ReadFileAnswer(IPelkFileInfo* result, IPelkFileInfo* input, WaveformCheck* check) {
  FileAnswer a;
  a.file = Text(result, &IPelkFileInfo::get_Filename);
  result->get_SonquixMatchCode(&a.match_code);
  if (const auto r26 = ComPtr<IPelkFileInfo>(result).As<IPelkFileInfo2_6>()) {
    r26->get_MatchType(&a.match_type);
  }
  ComPtr<IFileTag> own_tag;
  if (input) input->get_Tag(own_tag.Out());
  const bool had_tag_text = !Text(own_tag.Get(), &IFileTag::get_Title).empty() ||
                            !Text(own_tag.Get(), &IFileTag::get_Artist).empty();
  ComPtr<IDiscInfo> disc;
  if (FAILED(result->get_Disc(disc.Out())) || !disc) {
    a.certainty = a.match_code == SONQUIX_MATCH_ERROR ? "error" : "not identified";
    a.found_by =
        a.match_code == SONQUIX_MATCH_ERROR ? "the identification failed" : "nothing matched";
    a.confidence = a.certainty;
    return a;
  }
  a.identified = true;
  a.disc_identifier = Text(disc.Get(), &IDiscInfo::get_Identifier);
  a.artist = Text(disc.Get(), &IDiscInfo::get_Artist);
  a.album = Text(disc.Get(), &IDiscInfo::get_AlbumTitle);
  result->get_TrackNum(&a.track);
  if (a.track <= 0) disc->get_CurrentTrack(&a.track);
  disc->get_TrackCount(&a.track_count);
  if (a.track_count <= 1) result->get_TrackCount(&a.track_count);
  ComPtr<ITrackInfo> track;
  if (a.track > 0 && SUCCEEDED(disc->GetTrack(a.track, track.Out())) && track) {
    a.title = Text(track.Get(), &ITrackInfo::get_Title);
    a.track_identifier = Text(track.Get(), &ITrackInfo::get_Identifier);
  }
  a.found_by = FoundBy(a.match_type, had_tag_text);

  if (had_tag_text) {
    text::TrackScorer scorer;
    int32_t score = -1;
    if (SUCCEEDED(scorer.Prepare(disc.Get(), Utf8ToUtf16(a.file), own_tag.Get())) &&
        SUCCEEDED(scorer.SetTrack(a.track)) && SUCCEEDED(scorer.Score(&score)) && score >= 0) {
      a.tag_score = score;
    }
  }
  if (check && IsWaveformType(a.match_type) && input) {
    ComPtr<IPelkSonquixFingerprint> fingerprint;
    input->get_Fingerprint(fingerprint.Out());
    Bstr signature_text;
    if (fingerprint) fingerprint->get_Signature(signature_text.Out());
    const std::string signature = signature_text.Utf8();
    if (!signature.empty()) a.waveform = check->Check(signature, a.disc_identifier, a.track);
  }

  std::string basis;
  if (a.waveform) {
    basis = "fingerprint distance " + std::to_string(a.waveform->distance) +
            " (matches lie under " + std::to_string(a.waveform->max_distance) + ")" +
            (a.waveform->clear_winner ? ", the one clear match" : ", other tracks near");
  }
  if (a.tag_score) {
    if (!basis.empty()) basis += "; ";
    basis += "tags agree " + std::to_string(*a.tag_score) + "/100";
  }
  switch (a.match_code) {
    case SONQUIX_MATCH_EXACT:
      a.certainty = "sure";
      break;
    case SONQUIX_MATCH_FUZZY:
      a.certainty = "probable";
      break;
    case SONQUIX_MATCH_ALL:
      a.certainty = "candidate";
      break;
    case SONQUIX_MATCH_ERROR:
      a.certainty = "error";
      break;
    default:
      a.certainty = "not identified";
      break;
  }
  // A fingerprint that the catalogue finds nearest by a clear margin is as sure as an exact
  // code, even for a file without tags, whose text score is meaningless.
  if (a.certainty != "sure" && a.waveform && a.waveform->clear_winner) a.certainty = "sure";
  a.sure = a.certainty == "sure";
  a.confidence = a.certainty + (basis.empty() ? "" : ": " + basis);
  return a;
}

}  // namespace pelk::cli
