/// @file
/// The platform's base interfaces, as pure-virtual C++ interfaces in the platform's slot order.
/// Every interface names its identifier (kIid) and the interface it extends (Base), which the
/// object base uses to answer QueryInterface for the whole chain.
///
/// Reference counting: every interface pointer handed out (QueryInterface, an out parameter) holds
/// one reference that its receiver releases; ComPtr does that for you.
#pragma once

#include <cstdint>

#include "runtime/guid.h"
#include "runtime/hresult.h"
#include "runtime/variant.h"

struct ITypeInfo;  ///< no type information objects here: dispatch goes through DispatchTable

/// The root interface: identity, interface navigation and reference counting. Every
/// operation is safe from any thread.
struct IUnknown {
  /// The interface identifier.
  static constexpr IID kIid = pelk::MakeGuid("00000000-0000-0000-C000-000000000046");
  /// Another interface of the same object, with one new reference, or E_NOINTERFACE (and
  /// null). E_POINTER when object is null.
  virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
  /// Adds a reference; returns the new count (for diagnostics only).
  virtual uint32_t AddRef() = 0;
  /// Drops a reference; the object deletes itself when none is left.
  virtual uint32_t Release() = 0;

 protected:
  ~IUnknown() = default;
};

/// Late-bound access to an object: operations found by name and called by dispatch id with
/// variant arguments. Event sinks implement it: the manager calls Invoke once per event.
struct IDispatch : IUnknown {
  /// The interface identifier.
  static constexpr IID kIid = pelk::MakeGuid("00020400-0000-0000-C000-000000000046");
  using Base = IUnknown;  ///< The interface this one extends.
  /// Always 0 here: there is no type information object.
  virtual HRESULT GetTypeInfoCount(uint32_t* count) = 0;
  /// No type information: TYPE_E_ELEMENTNOTFOUND.
  virtual HRESULT GetTypeInfo(uint32_t index, LCID locale, ITypeInfo** info) = 0;
  /// The dispatch ids of operation names (case-insensitive); DISP_E_UNKNOWNNAME for a name
  /// the object does not have.
  virtual HRESULT GetIDsOfNames(REFIID iid, OLECHAR** names, uint32_t count, LCID locale,
                                DISPID* ids) = 0;
  /// Calls operation id with params (arguments last first; out arguments by reference).
  virtual HRESULT Invoke(DISPID id, REFIID iid, LCID locale, uint16_t flags, DISPPARAMS* params,
                         VARIANT* result, EXCEPINFO* exception, uint32_t* arg_error) = 0;

 protected:
  ~IDispatch() = default;
};

/// Makes objects of one class; DllGetClassObject hands it out.
struct IClassFactory : IUnknown {
  /// The interface identifier.
  static constexpr IID kIid = pelk::MakeGuid("00000001-0000-0000-C000-000000000046");
  using Base = IUnknown;  ///< The interface this one extends.
  /// A new object answering iid (one reference); CLASS_E_NOAGGREGATION for an outer object
  /// the class refuses.
  virtual HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) = 0;
  /// Non-zero keeps the module loaded (counted), zero undoes one such lock.
  virtual HRESULT LockServer(int32_t lock) = 0;

 protected:
  ~IClassFactory() = default;
};

/// Tells whether an interface's failures come with error information (GetErrorInfo).
struct ISupportErrorInfo : IUnknown {
  /// The interface identifier.
  static constexpr IID kIid = pelk::MakeGuid("DF0B3D60-548F-101B-8E65-08002B2BD119");
  using Base = IUnknown;  ///< The interface this one extends.
  /// S_OK when the interface reports errors through error information, else S_FALSE.
  virtual HRESULT InterfaceSupportsErrorInfo(REFIID iid) = 0;

 protected:
  ~ISupportErrorInfo() = default;
};

/// The error information attached to a failure (GetErrorInfo); pelk::TakeErrorDescription
/// reads its description.
struct IErrorInfo : IUnknown {
  /// The interface identifier.
  static constexpr IID kIid = pelk::MakeGuid("1CF2B120-547D-101B-8E65-08002B2BD119");
  using Base = IUnknown;  ///< The interface this one extends.
  ///@{
  /// The interface that failed, the source, the description and the help reference; strings are
  /// handed to the caller, who frees them.
  virtual HRESULT GetGUID(GUID* guid) = 0;
  virtual HRESULT GetSource(BSTR* source) = 0;
  virtual HRESULT GetDescription(BSTR* description) = 0;
  virtual HRESULT GetHelpFile(BSTR* help_file) = 0;
  virtual HRESULT GetHelpContext(uint32_t* help_context) = 0;
  ///@}

 protected:
  ~IErrorInfo() = default;
};

/// Fills in an error-information object (CreateErrorInfo).
struct ICreateErrorInfo : IUnknown {
  /// The interface identifier.
  static constexpr IID kIid = pelk::MakeGuid("22F03340-547D-101B-8E65-08002B2BD119");
  using Base = IUnknown;  ///< The interface this one extends.
  ///@{
  /// Set the fields GetGUID, GetSource, GetDescription, GetHelpFile and GetHelpContext read.
  virtual HRESULT SetGUID(REFIID guid) = 0;
  virtual HRESULT SetSource(const OLECHAR* source) = 0;
  virtual HRESULT SetDescription(const OLECHAR* description) = 0;
  virtual HRESULT SetHelpFile(const OLECHAR* help_file) = 0;
  virtual HRESULT SetHelpContext(uint32_t help_context) = 0;
  ///@}

 protected:
  ~ICreateErrorInfo() = default;
};

/// Walks a collection as variants.
struct IEnumVARIANT : IUnknown {
  /// The interface identifier.
  static constexpr IID kIid = pelk::MakeGuid("00020404-0000-0000-C000-000000000046");
  using Base = IUnknown;  ///< The interface this one extends.
  /// Up to count items into items; fetched (optional) receives how many. S_FALSE when fewer.
  virtual HRESULT Next(uint32_t count, VARIANT* items, uint32_t* fetched) = 0;
  ///@{
  /// Skip items, start over, or copy the enumerator at its position.
  virtual HRESULT Skip(uint32_t count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumVARIANT** clone) = 0;
  ///@}

 protected:
  ~IEnumVARIANT() = default;
};

struct IConnectionPointContainer;

/// One advised sink of a connection point and its cookie.
struct CONNECTDATA {
  IUnknown* pUnk;     ///< the sink, referenced
  uint32_t dwCookie;  ///< the cookie Advise returned for it
};

/// Walks the sinks advised on a connection point.
struct IEnumConnections : IUnknown {
  /// The interface identifier.
  static constexpr IID kIid = pelk::MakeGuid("B196B287-BAB4-101A-B69C-00AA00341D07");
  using Base = IUnknown;  ///< The interface this one extends.
  ///@{
  /// Next up to count connections (each sink referenced), skip, start over, or copy.
  virtual HRESULT Next(uint32_t count, CONNECTDATA* items, uint32_t* fetched) = 0;
  virtual HRESULT Skip(uint32_t count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumConnections** clone) = 0;
  ///@}

 protected:
  ~IEnumConnections() = default;
};

/// One outgoing interface of an object: sinks advised here receive its events. Events are
/// called on the thread that raises them, with the connection point's lock released.
struct IConnectionPoint : IUnknown {
  /// The interface identifier.
  static constexpr IID kIid = pelk::MakeGuid("B196B286-BAB4-101A-B69C-00AA00341D07");
  using Base = IUnknown;  ///< The interface this one extends.
  /// The identifier of the outgoing interface (DIID__IPELKSonquixManagerEvents for the manager).
  virtual HRESULT GetConnectionInterface(IID* iid) = 0;
  /// The object this connection point belongs to (one reference).
  virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) = 0;
  /// Connects a sink, which must answer the outgoing interface; the connection point holds a
  /// reference to it until Unadvise. CONNECT_E_CANNOTCONNECT when the sink does not answer it.
  virtual HRESULT Advise(IUnknown* sink, uint32_t* cookie) = 0;
  /// Disconnects the sink of cookie and releases it; CONNECT_E_NOCONNECTION for an unknown cookie.
  virtual HRESULT Unadvise(uint32_t cookie) = 0;
  /// The sinks connected now.
  virtual HRESULT EnumConnections(IEnumConnections** connections) = 0;

 protected:
  ~IConnectionPoint() = default;
};

/// Walks the connection points of an object.
struct IEnumConnectionPoints : IUnknown {
  /// The interface identifier.
  static constexpr IID kIid = pelk::MakeGuid("B196B285-BAB4-101A-B69C-00AA00341D07");
  using Base = IUnknown;  ///< The interface this one extends.
  ///@{
  /// Next up to count points (each referenced), skip, start over, or copy.
  virtual HRESULT Next(uint32_t count, IConnectionPoint** items, uint32_t* fetched) = 0;
  virtual HRESULT Skip(uint32_t count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumConnectionPoints** clone) = 0;
  ///@}

 protected:
  ~IEnumConnectionPoints() = default;
};

/// An object with outgoing interfaces; the manager answers it.
struct IConnectionPointContainer : IUnknown {
  /// The interface identifier.
  static constexpr IID kIid = pelk::MakeGuid("B196B284-BAB4-101A-B69C-00AA00341D07");
  using Base = IUnknown;  ///< The interface this one extends.
  /// Every connection point of the object.
  virtual HRESULT EnumConnectionPoints(IEnumConnectionPoints** points) = 0;
  /// The connection point of outgoing interface iid (one reference), or CONNECT_E_NOCONNECTION.
  virtual HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** point) = 0;

 protected:
  ~IConnectionPointContainer() = default;
};
