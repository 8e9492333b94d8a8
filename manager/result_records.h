// Result records from discs: every lookup ends with a result kind and, through the control, one
// matched disc or a collection of discs. These routines turn such an answer into candidate
// records (one per disc, with the disc, its current track, a tag built from that track and the
// match values) collected in a new list, decide which text candidates form an album run, make
// sure a disc has a track selected, and swap the discs of returned records for full discs.
//
// The lists handed out are new and seen by nobody else until returned; records and discs are
// reached only through their own operations (list, then record, as everywhere).
#pragma once

#include <string_view>

#include "control/lookup_control.h"
#include "model/file_info.h"
#include "model/file_info_list.h"
#include "runtime/com_ptr.h"

namespace pelk {

class CPELKSonquixManager;

// Builds the list for the last lookup's answer: kind 3 fetches the control's single disc, kinds
// 2 and 5 its disc collection; anything else (or a failed fetch) gives the no-match list.
// Records get PELKMatchCode = kind and SonquixMatchCode 1. E_INVALIDARG for a null record.
HRESULT ResultsToList(CPELKSonquixManager& manager, std::u16string_view file_name,
                      CPelkFileInfo* record, int32_t result_kind, int32_t match_type,
                      int32_t text_flag, ComPtr<CPelkFileInfoList>* list);

// A new list (handed out first) holding the record built for disc, with list match code
// LIST_MATCH_TRACK_SINGLE; without a disc, or when the record cannot be built, the no-match
// record (file name, MATCH_TYPE_NONE, SONQUIX_MATCH_NONE) and LIST_MATCH_NONE.
HRESULT SingleDiscToList(CPELKSonquixManager& manager, std::u16string_view file_name,
                         CPelkFileInfo* record, IDiscInfo* disc, ComPtr<CPelkFileInfoList>* list,
                         int32_t pelk_code, int32_t sonquix_code, int32_t match_type,
                         bool fetch_full);

// One record per disc of the collection, in its order (LIST_MATCH_TRACK_MULTIPLE); a text
// candidate that is part of an album run becomes MATCH_TYPE_TXT_ALBUM_LEVEL, and with text flag
// 0 also SONQUIX_MATCH_NONE. The first failure stops the walk. An empty result gives the
// no-match record and LIST_MATCH_NONE.
HRESULT DiscListToList(CPELKSonquixManager& manager, std::u16string_view file_name,
                       CPelkFileInfo* record, IDiscList* discs, ComPtr<CPelkFileInfoList>* list,
                       int32_t pelk_code, int32_t sonquix_code, int32_t match_type, bool fetch_full,
                       int32_t text_flag);

// Whether disc `index` (1-based) of the collection is one of at least three consecutive tracks
// of one disc lying at consecutive positions of the collection.
bool IsAlbumLevelMatch(IDiscList* discs, int32_t index);

// A new record for disc at its current track (optionally on the full disc): file name, disc,
// track number and count, MATCH_TYPE_UNKNOWN, a tag built from the track, and the source's
// original tag, waveform list and options. Returns the tag building's result, or an earlier
// failure. E_INVALIDARG for a null disc or out.
HRESULT BuildRecordForDisc(CPELKSonquixManager& manager, std::u16string_view file_name,
                           CPelkFileInfo* source, IDiscInfo* disc, ComPtr<CPelkFileInfo>* record,
                           bool fetch_full);

// Gives a disc without a current track the track that best fits the file (by the track
// scorer); track 1 when no track fits at all. E_POINTER for a null disc.
HRESULT EnsureTrackSelected(std::u16string_view file_name, IFileTag* tag, IDiscInfo* disc);

// For a list of track answers (LIST_MATCH_TRACK_SINGLE or _MULTIPLE; otherwise S_FALSE): each
// record with a disc gets the full disc and a tag rebuilt from it (a tag that cannot be built
// leaves the old one).
HRESULT CompleteResultDiscs(CPELKSonquixManager& manager, CPelkFileInfoList* list);

// The best candidate (entry 1) alone in a new LIST_MATCH_TRACK_SINGLE list, with its verdict as
// SonquixMatchCode: exact for a high-confidence match, none for the no-match record, fuzzy
// otherwise. E_INVALIDARG for a null or empty list (entry 1 cannot be read), E_POINTER for a
// null out.
HRESULT PickSingleResult(CPelkFileInfoList* candidates, ComPtr<CPelkFileInfoList>* list);

}  // namespace pelk
