#include "platform/windows/com_handles.h"

#include "platform/windows/windows_error.h"

namespace zipdrop {

BstrOwner::BstrOwner(std::wstring_view text)
    : text_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {
  if (!text_) ThrowHresult(E_OUTOFMEMORY, "SysAllocStringLen");
}

BstrOwner& BstrOwner::operator=(BstrOwner&& other) noexcept {
  if (this != &other) {
    SysFreeString(text_);
    text_ = std::exchange(other.text_, nullptr);
  }
  return *this;
}

BSTR* BstrOwner::Put() {
  SysFreeString(std::exchange(text_, nullptr));
  return &text_;
}

std::wstring BstrOwner::Text() const {
  return text_ ? std::wstring(text_, SysStringLen(text_)) : std::wstring();
}

}  // namespace zipdrop
