/// @file
/// The lookup control: the component that knows the music catalogue. The manager receives one
/// from its host, asks it for the lookup engine, and reads every answer through it.
///
/// Threads: a host hands the control to IPELKSonquixManager::Initialize and then leaves its
/// lookup engine to the manager: the engine keeps a current answer, which the manager's lookups
/// set and read, so a host must not run lookups of its own on the same control while the
/// manager works. Objects handed out carry one reference for the caller.
#pragma once

#include "control/disc_info.h"
#include "control/file_tag.h"
#include "runtime/dispatch.h"
#include "runtime/unknown.h"

namespace pelk {

/// What ILookupControl::GetControlObject hands out.
enum ControlObjectKind : int32_t {
  kControlObjectEngine = 7,  ///< ILookupEngine
  kControlObjectTracer = 8,  ///< ILookupTracer, may be absent (null with S_OK or a failure)
  kControlObjectAnchor = 9,  ///< held by the manager for the life of the shared control only
};

/// Result kinds of a lookup: start at 1 before the call.
enum LookupResultKind : int32_t {
  kLookupNone = 1,
  kLookupSeveral = 2,
  kLookupOne = 3,
  kLookupSeveralClose = 5,  ///< several near-identical candidates
};

/// The lookup control (CLSID_PelkLookupControl in libpelkcontrol.so; our control also answers
/// catalog::IPelkCatalogControl to choose its catalogue).
struct ILookupControl : IDispatch {
  /// The interface identifier.
  static constexpr IID kIid = MakeGuid("68ECE2AF-0B56-451B-9C31-3383148DAEC2");
  using Base = IDispatch;  ///< The interface this one extends.
  /// "PELKControl major.minor.build.revision".
  virtual HRESULT get_Version(BSTR* version) = 0;
  /// One of the control's objects by ControlObjectKind (the engine, the tracer, the anchor).
  virtual HRESULT GetControlObject(int32_t kind, IUnknown** object) = 0;
  /// The last lookup's answer: one disc (result kind 3) or a collection (kinds 2 and 5).
  virtual HRESULT GetSingleMatch(IDiscInfo** disc) = 0;
  /// The last lookup's collection of discs (result kinds 2 and 5).
  virtual HRESULT GetMatchCollection(IDiscList** discs) = 0;
  /// The data-list element of (list_id, level) for a track's extended data.
  virtual HRESULT GetDataListElement(int32_t list_id, int32_t level, IExtData* ext_data,
                                     IDataListElement** element) = 0;
  /// The late-bound description of the interface's own operations.
  static const DispatchTable& Table();
};

/// The control's lookup engine (kControlObjectEngine): lookups by fingerprint, text and
/// identifier. Each lookup leaves its answer as the control's current one (GetSingleMatch,
/// GetMatchCollection) and reports its kind in *result_kind (LookupResultKind).
struct ILookupEngine : IDispatch {
  /// The interface identifier.
  static constexpr IID kIid = MakeGuid("3D58299B-284B-4215-8BDB-3C2123E58296");
  using Base = IDispatch;  ///< The interface this one extends.
  /// By fingerprint (type, version and signature of the FINGERPRINT document). complete: 1 to
  /// answer with complete discs. *result_kind is in/out and starts at 1.
  virtual HRESULT WaveformLookup(BSTR type, BSTR version, BSTR signature, int32_t complete,
                                 int32_t* result_kind) = 0;
  /// By text: the tag's fields and the file name (null when it must not be used).
  virtual HRESULT TextLookup(BSTR file_name, IFileTag* tag, int32_t complete,
                             int32_t* result_kind) = 0;
  /// By a disc or track identifier; reserved is 0; *value receives the track number found
  /// (0 when the identifier named a disc). *disc is null when nothing matched.
  virtual HRESULT IdentifierLookup(BSTR identifier, int32_t reserved, int32_t* value,
                                   IDiscInfo** disc) = 0;
  /// By the pair of store identifiers a tag may carry; the three reserved values are 0.
  virtual HRESULT IdentifierPairLookup(BSTR first, BSTR second, int32_t reserved1,
                                       int32_t reserved2, int32_t reserved3, IDiscInfo** disc) = 0;
  /// The disc with every track; flag is 1 and reserved 0 as the manager calls it.
  virtual HRESULT FetchFullDisc(IDiscInfo* disc, int32_t flag, int32_t reserved,
                                IDiscInfo** full_disc) = 0;
  /// *same is 1 when both objects describe the same disc, else 0.
  virtual HRESULT IsSameDisc(IDiscInfo* first, IDiscInfo* second, int32_t reserved,
                             int32_t* same) = 0;
  /// Commit a choice: it becomes the engine's (and so the control's) current answer.
  virtual HRESULT SelectDisc(IDiscInfo* disc) = 0;
  /// Commit a collection as the current answer.
  virtual HRESULT SelectCollection(IDiscList* discs) = 0;
  /// The late-bound description of the interface's own operations.
  static const DispatchTable& Table();
};

/// Timing of a lookup's steps (kControlObjectTracer), for diagnostics.
struct ILookupTracer : IDispatch {
  /// The interface identifier.
  static constexpr IID kIid = MakeGuid("420D3742-5843-4A37-9B4D-6090D6B72D4E");
  using Base = IDispatch;  ///< The interface this one extends.
  /// A step starts.
  virtual HRESULT Begin(BSTR step) = 0;
  /// The step ends.
  virtual HRESULT End(BSTR step) = 0;
  /// The late-bound description of the interface's own operations.
  static const DispatchTable& Table();
};

/// The lookup control (ILookupControl), made through libpelkcontrol.so's DllGetObject.
inline constexpr CLSID CLSID_PelkLookupControl = MakeGuid("A430AEF9-948F-4A12-A02B-B87C2C654DE6");
/// A tag in memory (IFileTag).
inline constexpr CLSID CLSID_PelkFileTag = MakeGuid("476E1573-4013-45FF-9253-1453AE2C4E9A");
/// A tag read from and written to an audio file (IFileTag with IMp3Fields).
inline constexpr CLSID CLSID_PelkMediaFileTag = MakeGuid("98D6337F-33BE-4573-9D25-39101371156B");
/// Builds the tag of a disc's track.
inline constexpr CLSID CLSID_PelkDiscTagBuilder = MakeGuid("31E0AC00-A009-49A0-A618-1953A59D4171");
/// Extended data of a track (IExtData).
inline constexpr CLSID CLSID_PelkExtData = MakeGuid("282CD942-C729-49FE-AB4A-FD9B34F1797F");

}  // namespace pelk
