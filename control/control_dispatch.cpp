// Dispatch tables of the lookup control's interfaces: every operation reachable late-bound.
#include "control/lookup_control.h"

namespace pelk {

const DispatchTable& ITrackInfo::Table() {
  static const DispatchEntry entries[] = {
      DispEntry<&ITrackInfo::get_Artist>(u"Artist", 1, DISPATCH_PROPERTYGET),
      DispEntry<&ITrackInfo::get_Title>(u"Title", 2, DISPATCH_PROPERTYGET),
      DispEntry<&ITrackInfo::get_Number>(u"Number", 3, DISPATCH_PROPERTYGET),
      DispEntry<&ITrackInfo::get_Length>(u"Length", 4, DISPATCH_PROPERTYGET),
      DispEntry<&ITrackInfo::get_Identifier>(u"Identifier", 5, DISPATCH_PROPERTYGET),
  };
  static const DispatchTable table{ITrackInfo::kIid, entries, nullptr};
  return table;
}

const DispatchTable& IReleaseInfo::Table() {
  static const DispatchEntry entries[] = {
      DispEntry<&IReleaseInfo::get_Year>(u"Year", 1, DISPATCH_PROPERTYGET),
  };
  static const DispatchTable table{IReleaseInfo::kIid, entries, nullptr};
  return table;
}

const DispatchTable& IDiscInfo::Table() {
  static const DispatchEntry entries[] = {
      DispEntry<&IDiscInfo::get_AlbumTitle>(u"AlbumTitle", 1, DISPATCH_PROPERTYGET),
      DispEntry<&IDiscInfo::get_Artist>(u"Artist", 2, DISPATCH_PROPERTYGET),
      DispEntry<&IDiscInfo::get_TrackCount>(u"TrackCount", 3, DISPATCH_PROPERTYGET),
      DispEntry<&IDiscInfo::GetTrackTitle>(u"GetTrackTitle", 4),
      DispEntry<&IDiscInfo::GetTrack>(u"GetTrack", 5),
      DispEntry<&IDiscInfo::get_CurrentTrack>(u"CurrentTrack", 6, DISPATCH_PROPERTYGET),
      DispEntry<&IDiscInfo::put_CurrentTrack>(u"CurrentTrack", 6, DISPATCH_PROPERTYPUT),
      DispEntry<&IDiscInfo::GetNamedText>(u"GetNamedText", 7),
      DispEntry<&IDiscInfo::get_Identifier>(u"Identifier", 8, DISPATCH_PROPERTYGET),
      DispEntry<&IDiscInfo::get_ReleaseRank>(u"ReleaseRank", 9, DISPATCH_PROPERTYGET),
      DispEntry<&IDiscInfo::get_Release>(u"Release", 10, DISPATCH_PROPERTYGET),
      DispEntry<&IDiscInfo::get_IsCompilation>(u"IsCompilation", 11, DISPATCH_PROPERTYGET),
      DispEntry<&IDiscInfo::Copy>(u"Copy", 12),
  };
  static const DispatchTable table{IDiscInfo::kIid, entries, nullptr};
  return table;
}

const DispatchTable& ILegacyDisc::Table() {
  static const DispatchTable table{ILegacyDisc::kIid, {}, &IDiscInfo::Table()};
  return table;
}

const DispatchTable& IDiscData::Table() {
  static const DispatchEntry entries[] = {
      DispEntry<&IDiscData::RetrieveData>(u"RetrieveData", 1),
  };
  static const DispatchTable table{IDiscData::kIid, entries, nullptr};
  return table;
}

const DispatchTable& IDiscList::Table() {
  static const DispatchEntry entries[] = {
      DispEntry<&IDiscList::get_Count>(u"Count", 1, DISPATCH_PROPERTYGET),
      DispEntry<&IDiscList::get_Item>(u"Item", 2, DISPATCH_PROPERTYGET),
  };
  static const DispatchTable table{IDiscList::kIid, entries, nullptr};
  return table;
}

const DispatchTable& IExtData::Table() {
  static const DispatchEntry entries[] = {
      DispEntry<&IExtData::InitFromDisc>(u"InitFromDisc", 1),
      DispEntry<&IExtData::Serialize>(u"Serialize", 2),
      DispEntry<&IExtData::Deserialize>(u"Deserialize", 3),
  };
  static const DispatchTable table{IExtData::kIid, entries, nullptr};
  return table;
}

const DispatchTable& IDataListElement::Table() {
  static const DispatchEntry entries[] = {
      DispEntry<&IDataListElement::get_Count>(u"Count", 1, DISPATCH_PROPERTYGET),
      DispEntry<&IDataListElement::GetValue>(u"GetValue", 2),
  };
  static const DispatchTable table{IDataListElement::kIid, entries, nullptr};
  return table;
}

const DispatchTable& IFileTag::Table() {
  static const DispatchEntry entries[] = {
      DispEntry<&IFileTag::get_AlbumTitle>(u"AlbumTitle", 1, DISPATCH_PROPERTYGET),
      DispEntry<&IFileTag::put_AlbumTitle>(u"AlbumTitle", 1, DISPATCH_PROPERTYPUT),
      DispEntry<&IFileTag::get_Artist>(u"Artist", 2, DISPATCH_PROPERTYGET),
      DispEntry<&IFileTag::put_Artist>(u"Artist", 2, DISPATCH_PROPERTYPUT),
      DispEntry<&IFileTag::get_Title>(u"Title", 3, DISPATCH_PROPERTYGET),
      DispEntry<&IFileTag::put_Title>(u"Title", 3, DISPATCH_PROPERTYPUT),
      DispEntry<&IFileTag::get_Identifier>(u"Identifier", 4, DISPATCH_PROPERTYGET),
      DispEntry<&IFileTag::put_Identifier>(u"Identifier", 4, DISPATCH_PROPERTYPUT),
      DispEntry<&IFileTag::get_TrackNumber>(u"TrackNumber", 5, DISPATCH_PROPERTYGET),
      DispEntry<&IFileTag::put_TrackNumber>(u"TrackNumber", 5, DISPATCH_PROPERTYPUT),
      DispEntry<&IFileTag::get_Genre>(u"Genre", 6, DISPATCH_PROPERTYGET),
      DispEntry<&IFileTag::put_Genre>(u"Genre", 6, DISPATCH_PROPERTYPUT),
      DispEntry<&IFileTag::get_Year>(u"Year", 7, DISPATCH_PROPERTYGET),
      DispEntry<&IFileTag::put_Year>(u"Year", 7, DISPATCH_PROPERTYPUT),
      DispEntry<&IFileTag::get_Comment>(u"Comment", 8, DISPATCH_PROPERTYGET),
      DispEntry<&IFileTag::put_Comment>(u"Comment", 8, DISPATCH_PROPERTYPUT),
      DispEntry<&IFileTag::get_Composer>(u"Composer", 9, DISPATCH_PROPERTYGET),
      DispEntry<&IFileTag::put_Composer>(u"Composer", 9, DISPATCH_PROPERTYPUT),
      DispEntry<&IFileTag::get_AlbumArtist>(u"AlbumArtist", 10, DISPATCH_PROPERTYGET),
      DispEntry<&IFileTag::put_AlbumArtist>(u"AlbumArtist", 10, DISPATCH_PROPERTYPUT),
      DispEntry<&IFileTag::get_DiscNumber>(u"DiscNumber", 11, DISPATCH_PROPERTYGET),
      DispEntry<&IFileTag::put_DiscNumber>(u"DiscNumber", 11, DISPATCH_PROPERTYPUT),
      DispEntry<&IFileTag::get_Lyricist>(u"Lyricist", 12, DISPATCH_PROPERTYGET),
      DispEntry<&IFileTag::put_Lyricist>(u"Lyricist", 12, DISPATCH_PROPERTYPUT),
      DispEntry<&IFileTag::get_Publisher>(u"Publisher", 13, DISPATCH_PROPERTYGET),
      DispEntry<&IFileTag::put_Publisher>(u"Publisher", 13, DISPATCH_PROPERTYPUT),
      DispEntry<&IFileTag::GetField>(u"GetField", 14),
      DispEntry<&IFileTag::PutField>(u"PutField", 15),
      DispEntry<&IFileTag::LoadFromFile>(u"LoadFromFile", 16),
  };
  static const DispatchTable table{IFileTag::kIid, entries, nullptr};
  return table;
}

const DispatchTable& IFileTagExtended::Table() {
  static const DispatchEntry entries[] = {
      DispEntry<&IFileTagExtended::get_Conductor>(u"Conductor", 1, DISPATCH_PROPERTYGET),
      DispEntry<&IFileTagExtended::put_Conductor>(u"Conductor", 1, DISPATCH_PROPERTYPUT),
      DispEntry<&IFileTagExtended::get_Copyright>(u"Copyright", 2, DISPATCH_PROPERTYGET),
      DispEntry<&IFileTagExtended::put_Copyright>(u"Copyright", 2, DISPATCH_PROPERTYPUT),
      DispEntry<&IFileTagExtended::get_EncodedBy>(u"EncodedBy", 3, DISPATCH_PROPERTYGET),
      DispEntry<&IFileTagExtended::put_EncodedBy>(u"EncodedBy", 3, DISPATCH_PROPERTYPUT),
      DispEntry<&IFileTagExtended::get_Isrc>(u"Isrc", 4, DISPATCH_PROPERTYGET),
      DispEntry<&IFileTagExtended::put_Isrc>(u"Isrc", 4, DISPATCH_PROPERTYPUT),
      DispEntry<&IFileTagExtended::get_Mood>(u"Mood", 5, DISPATCH_PROPERTYGET),
      DispEntry<&IFileTagExtended::put_Mood>(u"Mood", 5, DISPATCH_PROPERTYPUT),
      DispEntry<&IFileTagExtended::get_Bpm>(u"Bpm", 6, DISPATCH_PROPERTYGET),
      DispEntry<&IFileTagExtended::put_Bpm>(u"Bpm", 6, DISPATCH_PROPERTYPUT),
      DispEntry<&IFileTagExtended::get_SortArtist>(u"SortArtist", 7, DISPATCH_PROPERTYGET),
      DispEntry<&IFileTagExtended::put_SortArtist>(u"SortArtist", 7, DISPATCH_PROPERTYPUT),
      DispEntry<&IFileTagExtended::get_SortAlbum>(u"SortAlbum", 8, DISPATCH_PROPERTYGET),
      DispEntry<&IFileTagExtended::put_SortAlbum>(u"SortAlbum", 8, DISPATCH_PROPERTYPUT),
      DispEntry<&IFileTagExtended::get_SortTitle>(u"SortTitle", 9, DISPATCH_PROPERTYGET),
      DispEntry<&IFileTagExtended::put_SortTitle>(u"SortTitle", 9, DISPATCH_PROPERTYPUT),
  };
  static const DispatchTable table{IFileTagExtended::kIid, entries, nullptr};
  return table;
}

const DispatchTable& IMp3Fields::Table() {
  static const DispatchEntry entries[] = {
      DispEntry<&IMp3Fields::GetMp3Field>(u"GetMp3Field", 1),
  };
  static const DispatchTable table{IMp3Fields::kIid, entries, nullptr};
  return table;
}

const DispatchTable& IMediaFileTag::Table() {
  static const DispatchEntry entries[] = {
      DispEntry<&IMediaFileTag::AttachToFile>(u"AttachToFile", 100),
  };
  static const DispatchTable table{IMediaFileTag::kIid, entries, &IFileTag::Table()};
  return table;
}

const DispatchTable& IDiscTagBuilder::Table() {
  static const DispatchEntry entries[] = {
      DispEntry<&IDiscTagBuilder::BuildTag>(u"BuildTag", 1),
  };
  static const DispatchTable table{IDiscTagBuilder::kIid, entries, nullptr};
  return table;
}

const DispatchTable& ILookupControl::Table() {
  static const DispatchEntry entries[] = {
      DispEntry<&ILookupControl::get_Version>(u"Version", 1, DISPATCH_PROPERTYGET),
      DispEntry<&ILookupControl::GetControlObject>(u"GetControlObject", 2),
      DispEntry<&ILookupControl::GetSingleMatch>(u"GetSingleMatch", 3),
      DispEntry<&ILookupControl::GetMatchCollection>(u"GetMatchCollection", 4),
      DispEntry<&ILookupControl::GetDataListElement>(u"GetDataListElement", 5),
  };
  static const DispatchTable table{ILookupControl::kIid, entries, nullptr};
  return table;
}

const DispatchTable& ILookupEngine::Table() {
  static const DispatchEntry entries[] = {
      DispEntry<&ILookupEngine::WaveformLookup>(u"WaveformLookup", 1),
      DispEntry<&ILookupEngine::TextLookup>(u"TextLookup", 2),
      DispEntry<&ILookupEngine::IdentifierLookup>(u"IdentifierLookup", 3),
      DispEntry<&ILookupEngine::IdentifierPairLookup>(u"IdentifierPairLookup", 4),
      DispEntry<&ILookupEngine::FetchFullDisc>(u"FetchFullDisc", 5),
      DispEntry<&ILookupEngine::IsSameDisc>(u"IsSameDisc", 6),
      DispEntry<&ILookupEngine::SelectDisc>(u"SelectDisc", 7),
      DispEntry<&ILookupEngine::SelectCollection>(u"SelectCollection", 8),
  };
  static const DispatchTable table{ILookupEngine::kIid, entries, nullptr};
  return table;
}

const DispatchTable& ILookupTracer::Table() {
  static const DispatchEntry entries[] = {
      DispEntry<&ILookupTracer::Begin>(u"Begin", 1),
      DispEntry<&ILookupTracer::End>(u"End", 2),
  };
  static const DispatchTable table{ILookupTracer::kIid, entries, nullptr};
  return table;
}

}  // namespace pelk
