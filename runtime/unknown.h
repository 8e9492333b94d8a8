// The platform's base interfaces, as pure-virtual C++ interfaces in the platform's slot order.
// Every interface names its identifier (kIid) and the interface it extends (Base), which the
// object base uses to answer QueryInterface for the whole chain.
//
// Reference counting: every interface pointer handed out (QueryInterface, an out parameter) holds
// one reference that its receiver releases; ComPtr does that for you.
#pragma once

#include <cstdint>

#include "runtime/guid.h"
#include "runtime/hresult.h"
#include "runtime/variant.h"

struct ITypeInfo;  // no type information objects here: dispatch goes through DispatchTable

struct IUnknown {
  static constexpr IID kIid = pelk::MakeGuid("00000000-0000-0000-C000-000000000046");
  virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
  virtual uint32_t AddRef() = 0;
  virtual uint32_t Release() = 0;

 protected:
  ~IUnknown() = default;
};

struct IDispatch : IUnknown {
  static constexpr IID kIid = pelk::MakeGuid("00020400-0000-0000-C000-000000000046");
  using Base = IUnknown;
  virtual HRESULT GetTypeInfoCount(uint32_t* count) = 0;
  virtual HRESULT GetTypeInfo(uint32_t index, LCID locale, ITypeInfo** info) = 0;
  virtual HRESULT GetIDsOfNames(REFIID iid, OLECHAR** names, uint32_t count, LCID locale,
                                DISPID* ids) = 0;
  virtual HRESULT Invoke(DISPID id, REFIID iid, LCID locale, uint16_t flags, DISPPARAMS* params,
                         VARIANT* result, EXCEPINFO* exception, uint32_t* arg_error) = 0;

 protected:
  ~IDispatch() = default;
};

struct IClassFactory : IUnknown {
  static constexpr IID kIid = pelk::MakeGuid("00000001-0000-0000-C000-000000000046");
  using Base = IUnknown;
  virtual HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) = 0;
  virtual HRESULT LockServer(int32_t lock) = 0;

 protected:
  ~IClassFactory() = default;
};

struct ISupportErrorInfo : IUnknown {
  static constexpr IID kIid = pelk::MakeGuid("DF0B3D60-548F-101B-8E65-08002B2BD119");
  using Base = IUnknown;
  // S_OK when the interface reports errors through error information, else S_FALSE.
  virtual HRESULT InterfaceSupportsErrorInfo(REFIID iid) = 0;

 protected:
  ~ISupportErrorInfo() = default;
};

struct IErrorInfo : IUnknown {
  static constexpr IID kIid = pelk::MakeGuid("1CF2B120-547D-101B-8E65-08002B2BD119");
  using Base = IUnknown;
  virtual HRESULT GetGUID(GUID* guid) = 0;
  virtual HRESULT GetSource(BSTR* source) = 0;
  virtual HRESULT GetDescription(BSTR* description) = 0;
  virtual HRESULT GetHelpFile(BSTR* help_file) = 0;
  virtual HRESULT GetHelpContext(uint32_t* help_context) = 0;

 protected:
  ~IErrorInfo() = default;
};

struct ICreateErrorInfo : IUnknown {
  static constexpr IID kIid = pelk::MakeGuid("22F03340-547D-101B-8E65-08002B2BD119");
  using Base = IUnknown;
  virtual HRESULT SetGUID(REFIID guid) = 0;
  virtual HRESULT SetSource(const OLECHAR* source) = 0;
  virtual HRESULT SetDescription(const OLECHAR* description) = 0;
  virtual HRESULT SetHelpFile(const OLECHAR* help_file) = 0;
  virtual HRESULT SetHelpContext(uint32_t help_context) = 0;

 protected:
  ~ICreateErrorInfo() = default;
};

struct IEnumVARIANT : IUnknown {
  static constexpr IID kIid = pelk::MakeGuid("00020404-0000-0000-C000-000000000046");
  using Base = IUnknown;
  // Up to count items into items; fetched (optional) receives how many. S_FALSE when fewer.
  virtual HRESULT Next(uint32_t count, VARIANT* items, uint32_t* fetched) = 0;
  virtual HRESULT Skip(uint32_t count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumVARIANT** clone) = 0;

 protected:
  ~IEnumVARIANT() = default;
};

struct IConnectionPointContainer;

struct CONNECTDATA {
  IUnknown* pUnk;
  uint32_t dwCookie;
};

struct IEnumConnections : IUnknown {
  static constexpr IID kIid = pelk::MakeGuid("B196B287-BAB4-101A-B69C-00AA00341D07");
  using Base = IUnknown;
  virtual HRESULT Next(uint32_t count, CONNECTDATA* items, uint32_t* fetched) = 0;
  virtual HRESULT Skip(uint32_t count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumConnections** clone) = 0;

 protected:
  ~IEnumConnections() = default;
};

struct IConnectionPoint : IUnknown {
  static constexpr IID kIid = pelk::MakeGuid("B196B286-BAB4-101A-B69C-00AA00341D07");
  using Base = IUnknown;
  virtual HRESULT GetConnectionInterface(IID* iid) = 0;
  virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) = 0;
  virtual HRESULT Advise(IUnknown* sink, uint32_t* cookie) = 0;
  virtual HRESULT Unadvise(uint32_t cookie) = 0;
  virtual HRESULT EnumConnections(IEnumConnections** connections) = 0;

 protected:
  ~IConnectionPoint() = default;
};

struct IEnumConnectionPoints : IUnknown {
  static constexpr IID kIid = pelk::MakeGuid("B196B285-BAB4-101A-B69C-00AA00341D07");
  using Base = IUnknown;
  virtual HRESULT Next(uint32_t count, IConnectionPoint** items, uint32_t* fetched) = 0;
  virtual HRESULT Skip(uint32_t count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumConnectionPoints** clone) = 0;

 protected:
  ~IEnumConnectionPoints() = default;
};

struct IConnectionPointContainer : IUnknown {
  static constexpr IID kIid = pelk::MakeGuid("B196B284-BAB4-101A-B69C-00AA00341D07");
  using Base = IUnknown;
  virtual HRESULT EnumConnectionPoints(IEnumConnectionPoints** points) = 0;
  virtual HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** point) = 0;

 protected:
  ~IConnectionPointContainer() = default;
};
