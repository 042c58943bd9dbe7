#include "platform/windows/automation.h"

#include <type_traits>

#include "platform/windows/text_conversion.h"
#include "platform/windows/windows_error.h"

namespace zipdrop {

namespace {

IDispatch* DispatchOf(const ObjectRef& object) {
  if (!object) throw PlatformError("no object to call");
  auto* dispatch = dynamic_cast<DispatchObject*>(object.get());
  if (!dispatch) throw PlatformError("the object was not made by COM");
  return dispatch->Get();
}

// The VARIANT owns what it holds: a new BSTR, or a reference of its own to the object.
void StoreValue(const Value& value, VARIANT& slot) {
  std::visit(
      [&](const auto& held) {
        using Held = std::decay_t<decltype(held)>;
        if constexpr (std::is_same_v<Held, std::u16string>) {
          slot.vt = VT_BSTR;
          slot.bstrVal = BstrOwner(WideOf(held)).Release();
        } else if constexpr (std::is_same_v<Held, bool>) {
          slot.vt = VT_BOOL;
          slot.boolVal = held ? VARIANT_TRUE : VARIANT_FALSE;
        } else if constexpr (std::is_same_v<Held, ObjectRef>) {
          IDispatch* dispatch = held ? DispatchOf(held) : nullptr;
          if (dispatch) dispatch->AddRef();
          slot.vt = VT_DISPATCH;
          slot.pdispVal = dispatch;
        }
      },
      value);
}

Value ObjectValue(IDispatch* dispatch) {
  if (!dispatch) return std::monostate{};
  return std::make_shared<DispatchObject>(ComPtr<IDispatch>::Share(dispatch));
}

// Script callers see numbers and dates as text, so any other type that COM can turn into a
// string comes back as one.
Value LoadValue(const VARIANT& result) {
  switch (result.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return std::monostate{};
    case VT_BSTR:
      return U16Of(result.bstrVal ? std::wstring_view(result.bstrVal, SysStringLen(result.bstrVal))
                                  : std::wstring_view());
    case VT_BOOL:
      return result.boolVal != VARIANT_FALSE;
    case VT_DISPATCH:
      return ObjectValue(result.pdispVal);
    default:
      break;
  }
  VariantOwner text;
  // MinGW declares the source without const; VariantChangeType never writes to it.
  ThrowIfFailed(VariantChangeType(text.Put(), const_cast<VARIANT*>(&result), 0, VT_BSTR),
                "converting a result");
  return LoadValue(text.Get());
}

DISPID MemberId(IDispatch* dispatch, const std::u16string& member) {
  std::wstring name = WideOf(member);
  LPOLESTR names[] = {name.data()};
  DISPID id = DISPID_UNKNOWN;
  ThrowIfFailed(dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id),
                "finding the member " + Utf8Of(name));
  return id;
}

bool HasExceptionInfo(const EXCEPINFO& info) {
  return info.scode != 0 || info.wCode != 0 || info.bstrDescription || info.pfnDeferredFillIn;
}

// A member that fails with DISP_E_EXCEPTION describes the failure in EXCEPINFO; its strings
// belong to the caller and are freed here whether or not the description is used.
[[noreturn]] void ThrowInvokeFailure(HRESULT result, EXCEPINFO& info, const std::u16string& member) {
  if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
  BstrOwner source = BstrOwner::Adopt(info.bstrSource);
  BstrOwner description = BstrOwner::Adopt(info.bstrDescription);
  BstrOwner helpFile = BstrOwner::Adopt(info.bstrHelpFile);
  std::string operation = "calling " + Utf8Of(WideOf(member));
  if (FAILED(result) && result != DISP_E_EXCEPTION) ThrowHresult(result, operation);
  HRESULT reported = info.scode != 0 ? info.scode : static_cast<HRESULT>(info.wCode);
  if (reported == 0) reported = E_FAIL;
  std::string text = Utf8Of(description.Text());
  if (text.empty()) ThrowHresult(reported, operation);
  throw PlatformError(operation + " failed: " + text);
}

}  // namespace

// Both classes the run uses are served by system DLLs inside the process. Asking for nothing
// but in-process servers keeps COM from ever starting a server process, or reaching another
// machine, for a class.
ObjectRef CreateDispatchObject(const std::u16string& progId) {
  std::wstring name = WideOf(progId);
  CLSID classId{};
  ThrowIfFailed(CLSIDFromProgID(name.c_str(), &classId), "looking up " + Utf8Of(name));
  ComPtr<IDispatch> dispatch;
  ThrowIfFailed(
      CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, dispatch.PutVoid()),
      "creating " + Utf8Of(name));
  return std::make_shared<DispatchObject>(std::move(dispatch));
}

Value CallDispatchMember(const ObjectRef& object, const std::u16string& member,
                         const std::vector<Value>& arguments) {
  IDispatch* dispatch = DispatchOf(object);
  DISPID id = MemberId(dispatch, member);
  // IDispatch::Invoke takes the arguments from last to first.
  VariantList list(arguments.size());
  for (size_t i = 0; i < arguments.size(); ++i) {
    StoreValue(arguments[i], list[arguments.size() - 1 - i]);
  }
  DISPPARAMS parameters{list.Data(), nullptr, static_cast<UINT>(list.Size()), 0};
  VariantOwner result;
  EXCEPINFO info{};
  UINT badArgument = 0;
  HRESULT outcome = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT,
                                     DISPATCH_METHOD | DISPATCH_PROPERTYGET, &parameters,
                                     result.Put(), &info, &badArgument);
  if (FAILED(outcome) || HasExceptionInfo(info)) ThrowInvokeFailure(outcome, info, member);
  return LoadValue(result.Get());
}

}  // namespace zipdrop
