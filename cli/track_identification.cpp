#include "cli/track_identification.h"

#include <cctype>
#include <chrono>
#include <filesystem>

#include "cli/audio/audio_decoder.h"
#include "cli/audio/file_fingerprint.h"
#include "cli/command_support.h"
#include "model/track_scorer.h"
#include "runtime/bstr.h"
#include "runtime/error_info.h"
#include "runtime/utf.h"

namespace pelk::cli {
namespace {

bool HasWavExtension(const std::filesystem::path& path) {
  std::string extension = path.extension().string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension == ".wav";
}

// Whether the identification module reads the file's audio itself: it reads plain 8- and 16-bit
// PCM WAV files; everything else the host decodes.
bool ModuleReadsAudio(const std::string& file) {
  if (!HasWavExtension(file)) return false;
  std::string why;
  const std::unique_ptr<AudioDecoder> decoder = AudioDecoder::Open(file, &why);
  return !decoder || decoder->IsPlainWavPcm();  // unreadable: the module reports it
}

template <class I>
std::string Text(I* object, HRESULT (I::*get)(BSTR*)) {
  Bstr value;
  if (!object || FAILED((object->*get)(value.Out()))) return {};
  return value.Utf8();
}

std::string FoundBy(int32_t match_type, bool tag_has_title, bool filename_parsing) {
  const std::string text_source = tag_has_title || !filename_parsing
                                      ? "a text lookup on the file's tag"
                                      : "a text lookup on the file's name and folders";
  switch (match_type) {
    case MATCH_TYPE_TAGID:
      return "the catalogue identifier in the file's tag";
    case MATCH_TYPE_ITUNESID:
      return "the store identifiers in the file's tag";
    case MATCH_TYPE_WF:
      return "a fingerprint lookup";
    case MATCH_TYPE_TXT_ON_WF:
      return "a text lookup on the artist and title the fingerprint candidates suggest";
    case MATCH_TYPE_TXT:
      return text_source;
    case MATCH_TYPE_TXT_ALBUM_LEVEL:
      return text_source + ", one of a run of tracks of one album";
    case MATCH_TYPE_ALBUM_AND_TITLE:
      return "a text lookup on the tag's album and title";
    case MATCH_TYPE_ALBUM_ASSOCIATED:
      return "association with an album found for other files";
    default:
      return MatchTypeName(match_type);
  }
}

// The record's score as the module's track scorer computes it: the disc's track against the
// file's own tag and its path (no path when file-name parsing is off). When there is none,
// *why says in words what stood in the way.
int32_t ScoreOf(IDiscInfo* disc, int32_t track, std::u16string_view name_text, IFileTag* tag,
                std::string* why) {
  text::TrackScorer scorer;
  int32_t score = -1;
  if (track <= 0) {
    *why = "the answer names no track of the disc";
  } else if (FAILED(scorer.Prepare(disc, name_text, tag))) {
    *why = "the disc's track " + std::to_string(track) + " cannot be read";
  } else if (FAILED(scorer.SetTrack(track))) {
    *why = "the disc does not hold a track " + std::to_string(track);
  } else if (FAILED(scorer.Score(&score))) {
    *why = "the track scorer could not grade track " + std::to_string(track);
    score = -1;
  }
  return score;
}

Candidate ReadCandidate(IPelkFileInfo* entry, IDiscInfo* disc) {
  Candidate c;
  c.disc_identifier = Text(disc, &IDiscInfo::get_Identifier);
  c.disc_artist = Text(disc, &IDiscInfo::get_Artist);
  c.album = Text(disc, &IDiscInfo::get_AlbumTitle);
  entry->get_TrackNum(&c.track);
  if (c.track <= 0) disc->get_CurrentTrack(&c.track);
  disc->get_TrackCount(&c.track_count);
  if (c.track_count <= 1) entry->get_TrackCount(&c.track_count);
  ComPtr<ITrackInfo> track;
  if (c.track > 0 && SUCCEEDED(disc->GetTrack(c.track, track.Out())) && track) {
    c.title = Text(track.Get(), &ITrackInfo::get_Title);
    c.track_artist = Text(track.Get(), &ITrackInfo::get_Artist);
  }
  if (c.title.empty() && c.track > 0) {
    Bstr title;
    if (SUCCEEDED(disc->GetTrackTitle(c.track, title.Out()))) c.title = title.Utf8();
  }
  if (c.track_artist.empty()) c.track_artist = c.disc_artist;
  entry->get_SonquixMatchCode(&c.match_code);
  if (const ComPtr<IPelkFileInfo2_6> entry26 =
          ComPtr<IPelkFileInfo>(entry).As<IPelkFileInfo2_6>()) {
    entry26->get_MatchType(&c.match_type);
  }
  return c;
}

}  // namespace

Identification IdentifyTrack(const ModuleSession& session, const std::string& file,
                             int32_t options) {
  Identification result;
  result.file = file;
  const int32_t effective = options == 0 ? SONQUIX_DEFAULT_OPTIONS : options;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) {
    result.error = std::filesystem::exists(file, ec) ? "not a regular file" : "no such file";
    return result;
  }
  const std::string full = std::filesystem::absolute(file, ec).lexically_normal().string();
  const std::u16string name = Utf8ToUtf16(full);
  if (Utf16ToUtf8(name) != full) {
    result.error = "the path is not valid UTF-8";
    return result;
  }
  const ComPtr<IPelkFileInfo2_6> record = session.NewRecord();
  if (!record) {
    result.error = "the identification module cannot create a record";
    return result;
  }
  record->put_Filename(Bstr(name).Get());

  if (effective & SONQUIX_DISABLE_WF_QUERIES) {
    result.fingerprint = "none";
  } else if ((effective & SONQUIX_GET_FP_INTERNAL) && ModuleReadsAudio(file)) {
    result.fingerprint = "module";
  } else {
    IPelkSonquixFingerprinter2* fingerprinter = session.Fingerprinter();
    const FileFingerprint fp = FingerprintFile(fingerprinter, file, FixedLengthMs(fingerprinter));
    if (fp.fingerprint) {
      record->put_Fingerprint(fp.fingerprint.Get());
      result.fingerprint = "host";
    } else {
      result.fingerprint = fp.error;
    }
  }

  int32_t match_code = 0;
  ComPtr<IPelkFileInfoList> list;
  const auto start = std::chrono::steady_clock::now();
  const HRESULT hr = session.Manager()->TrackID(record.Get(), options, &match_code, list.Out());
  result.trackid_ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  if (FAILED(hr)) {
    const std::string description = Utf16ToUtf8(TakeErrorDescription());
    result.error = "identification failed (error " + HresultText(hr) +
                   (description.empty() ? "" : ": " + description) + ")";
    return result;
  }
  result.match_code = match_code;
  int32_t count = 0;
  if (!list || FAILED(list->get_Count(&count))) return result;
  list->GetListMatchCode(&result.list_match_code);

  // The tag the manager read for the file, which its scores are computed against.
  ComPtr<IFileTag> tag;
  record->get_Tag(tag.Out());
  const bool tag_has_title = !Text(tag.Get(), &IFileTag::get_Title).empty();
  const bool filename_parsing = !(effective & SONQUIX_DISABLE_FILENAME_PARSING);
  const std::u16string name_text = filename_parsing ? name : std::u16string();
  for (int32_t i = 1; i <= count; ++i) {
    ComPtr<IPelkFileInfo> entry;
    ComPtr<IDiscInfo> disc;
    if (FAILED(list->GetFileInfo(i, entry.Out())) || !entry ||
        FAILED(entry->get_Disc(disc.Out())) || !disc) {
      continue;  // the unidentified copy of the file
    }
    Candidate c = ReadCandidate(entry.Get(), disc.Get());
    c.score = ScoreOf(disc.Get(), c.track, name_text, tag.Get(), &c.no_score);
    c.found_by = FoundBy(c.match_type, tag_has_title, filename_parsing);
    result.candidates.push_back(std::move(c));
  }
  return result;
}

std::string MatchTypeName(int32_t match_type) {
  switch (match_type) {
    case MATCH_TYPE_TAGID:
      return "tag identifier";
    case MATCH_TYPE_ITUNESID:
      return "iTunes identifiers";
    case MATCH_TYPE_ALBUM_ASSOCIATED:
      return "album associated";
    case MATCH_TYPE_WF_HINT:
      return "waveform hint";
    case MATCH_TYPE_WF:
      return "waveform";
    case MATCH_TYPE_TXT_ON_WF:
      return "text on waveform";
    case MATCH_TYPE_TXT_HINT:
      return "text hint";
    case MATCH_TYPE_TXT:
      return "text";
    case MATCH_TYPE_ALBUM_AND_TITLE:
      return "album and title";
    case MATCH_TYPE_TXT_ALBUM_LEVEL:
      return "text album level";
    case MATCH_TYPE_UNKNOWN:
      return "unknown";
    case MATCH_TYPE_NONE:
      return "none";
    default:
      return "type " + std::to_string(match_type);
  }
}

std::string MatchCodeName(int32_t match_code) {
  switch (match_code) {
    case SONQUIX_MATCH_NONE:
      return "none";
    case SONQUIX_MATCH_EXACT:
      return "exact";
    case SONQUIX_MATCH_FUZZY:
      return "fuzzy";
    case SONQUIX_MATCH_ALL:
      return "candidate";
    case SONQUIX_MATCH_ERROR:
      return "error";
    default:
      return "code " + std::to_string(match_code);
  }
}

}  // namespace pelk::cli
