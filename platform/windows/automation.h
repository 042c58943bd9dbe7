// Late-bound calls on COM automation objects through IDispatch.
#pragma once

#include <oaidl.h>

#include <string>
#include <vector>

#include "platform/platform_services.h"
#include "platform/windows/com_handles.h"

namespace zipdrop {

/// The Windows form of an automation object: one counted IDispatch reference.
class DispatchObject : public AutomationObject {
 public:
  explicit DispatchObject(ComPtr<IDispatch> dispatch) : dispatch_(std::move(dispatch)) {}
  IDispatch* Get() const { return dispatch_.Get(); }

 private:
  ComPtr<IDispatch> dispatch_;
};

/// A new object of the class registered under the ProgID. COM must be initialised on the thread.
ObjectRef CreateDispatchObject(const std::u16string& progId);

/// Calls a method or reads a property by name, as a script would.
Value CallDispatchMember(const ObjectRef& object, const std::u16string& member,
                         const std::vector<Value>& arguments);

}  // namespace zipdrop
