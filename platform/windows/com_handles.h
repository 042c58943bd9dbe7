// Owners for the COM resources that zipdrop touches: interface pointers, BSTRs and VARIANTs.
//
// Each is move-only and frees its resource exactly once, so no straight-line code ever calls
// Release, SysFreeString or VariantClear by hand, and an exception between acquiring and using a
// resource cannot leak it.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zipdrop {

/// A counted reference to a COM interface.
template <typename Interface>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      Reset();
      pointer_ = std::exchange(other.pointer_, nullptr);
    }
    return *this;
  }
  ~ComPtr() { Reset(); }

  /// Takes a reference of its own to a pointer that someone else keeps owning.
  static ComPtr Share(Interface* pointer) {
    ComPtr shared;
    if (pointer) pointer->AddRef();
    shared.pointer_ = pointer;
    return shared;
  }

  Interface* Get() const { return pointer_; }
  Interface* operator->() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }

  /// The address an API writes a new reference to. The old one is released first, so reusing
  /// an owner for a second call cannot leak the first object.
  Interface** Put() {
    Reset();
    return &pointer_;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }

  void Reset() {
    if (pointer_) std::exchange(pointer_, nullptr)->Release();
  }

 private:
  Interface* pointer_ = nullptr;
};

/// A BSTR allocated by SysAllocString* or handed over by a COM call.
class BstrOwner {
 public:
  BstrOwner() = default;
  explicit BstrOwner(std::wstring_view text);
  BstrOwner(const BstrOwner&) = delete;
  BstrOwner& operator=(const BstrOwner&) = delete;
  BstrOwner(BstrOwner&& other) noexcept : text_(std::exchange(other.text_, nullptr)) {}
  BstrOwner& operator=(BstrOwner&& other) noexcept;
  ~BstrOwner() { SysFreeString(text_); }

  /// Takes over a BSTR that a COM call handed to the caller.
  static BstrOwner Adopt(BSTR text) {
    BstrOwner owner;
    owner.text_ = text;
    return owner;
  }

  BSTR Get() const { return text_; }
  BSTR* Put();
  /// Gives the string up to a caller that frees it, such as a VARIANT.
  BSTR Release() { return std::exchange(text_, nullptr); }
  /// The whole string, embedded nulls included; empty for a null BSTR, as COM defines it.
  std::wstring Text() const;

 private:
  BSTR text_ = nullptr;
};

/// One VARIANT, cleared when the owner goes.
class VariantOwner {
 public:
  VariantOwner() { VariantInit(&value_); }
  VariantOwner(const VariantOwner&) = delete;
  VariantOwner& operator=(const VariantOwner&) = delete;
  ~VariantOwner() { VariantClear(&value_); }

  const VARIANT& Get() const { return value_; }
  VARIANT* Put() {
    VariantClear(&value_);
    return &value_;
  }

 private:
  VARIANT value_;
};

/// A contiguous array of VARIANTs, as DISPPARAMS needs it, each cleared when the list goes.
class VariantList {
 public:
  explicit VariantList(size_t count) : values_(count) {
    for (VARIANT& value : values_) VariantInit(&value);
  }
  VariantList(const VariantList&) = delete;
  VariantList& operator=(const VariantList&) = delete;
  ~VariantList() {
    for (VARIANT& value : values_) VariantClear(&value);
  }

  VARIANT& operator[](size_t index) { return values_[index]; }
  VARIANT* Data() { return values_.empty() ? nullptr : values_.data(); }
  size_t Size() const { return values_.size(); }

 private:
  std::vector<VARIANT> values_;
};

}  // namespace zipdrop
