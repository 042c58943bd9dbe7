// The automation calls that the extraction run makes: against the system's real COM classes, and
// against an object of our own that records what IDispatch receives, for the calls that Wine's
// shell never gets to (it cannot open a ZIP file as a folder, so "CopyHere" is never reached).
#include <gtest/gtest.h>
#include <shlobj.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "platform/windows/automation.h"
#include "platform/windows/windows_platform.h"
#include "tests/windows/windows_test_support.h"

namespace zipdrop {
namespace {

namespace fs = std::filesystem;
using testing::ScratchFolder;

class AutomationTest : public ::testing::Test {
 protected:
  ObjectRef Object(const Value& value) {
    const ObjectRef* object = std::get_if<ObjectRef>(&value);
    EXPECT_TRUE(object && *object) << "expected an object";
    return object ? *object : nullptr;
  }

  WindowsPlatform platform_;
};

class ProgIdTest : public AutomationTest, public ::testing::WithParamInterface<const char16_t*> {};

TEST_P(ProgIdTest, CreatesTheRegisteredClass) {
  EXPECT_NE(platform_.CreateAutomationObject(GetParam()), nullptr);
}

INSTANTIATE_TEST_SUITE_P(ProgIds, ProgIdTest,
                         ::testing::Values(u"Shell.Application", u"scripting.filesystemobject",
                                           u"SHELL.APPLICATION"));

TEST_F(AutomationTest, UnknownProgIdFails) {
  EXPECT_THROW(platform_.CreateAutomationObject(u"ZipDrop.NoSuchClass"), PlatformError);
}

TEST_F(AutomationTest, NamespaceAndItemsListARealFolder) {
  ScratchFolder folder(L"namespace");
  std::ofstream(folder.Path() / "a.txt") << "a";
  std::ofstream(folder.Path() / "b.txt") << "b";
  ObjectRef shell = platform_.CreateAutomationObject(u"Shell.Application");
  ObjectRef namespaceFolder = Object(platform_.CallMember(shell, u"Namespace", {folder.Text()}));
  ObjectRef items = Object(platform_.CallMember(namespaceFolder, u"items", {}));
  // Count is a number; it comes back as text, as a script caller would print it.
  EXPECT_EQ(platform_.CallMember(items, u"Count", {}), Value(std::u16string(u"2")));
}

TEST_F(AutomationTest, NamespaceOfAMissingFolderIsNothing) {
  ScratchFolder folder(L"missing");
  ObjectRef shell = platform_.CreateAutomationObject(u"Shell.Application");
  Value result = platform_.CallMember(shell, u"Namespace", {folder.Text() + u"\\absent"});
  EXPECT_TRUE(std::holds_alternative<std::monostate>(result));
}

TEST_F(AutomationTest, UnknownMemberAndMissingObjectFail) {
  ObjectRef shell = platform_.CreateAutomationObject(u"Shell.Application");
  EXPECT_THROW(platform_.CallMember(shell, u"NoSuchMember", {}), PlatformError);
  EXPECT_THROW(platform_.CallMember(nullptr, u"Namespace", {u"C:\\"}), PlatformError);
}

TEST_F(AutomationTest, DeleteFolderRemovesOnlyMatchingFoldersAndFailsWhenNoneMatch) {
  ScratchFolder temp(L"deletefolder");
  const fs::path doomed[] = {temp.Path() / L"Temporary Directory 1 for a.zip",
                             temp.Path() / L"Temporary Directory 2 for b.zip"};
  const fs::path kept[] = {temp.Path() / L"Temporary Stuff", temp.Path() / L"Keep Me",
                           temp.Path() / L"My Temporary Directory"};
  for (const fs::path& folder : doomed) fs::create_directories(folder / L"inner");
  for (const fs::path& folder : kept) fs::create_directories(folder);
  std::ofstream(doomed[0] / L"inner" / L"file.txt") << "x";

  ObjectRef files = platform_.CreateAutomationObject(u"scripting.filesystemobject");
  std::u16string pattern = temp.Text() + u"\\Temporary Directory*";
  platform_.CallMember(files, u"deletefolder", {pattern, true});

  for (const fs::path& folder : doomed) EXPECT_FALSE(fs::exists(folder)) << folder;
  for (const fs::path& folder : kept) EXPECT_TRUE(fs::exists(folder)) << folder;
  EXPECT_THROW(platform_.CallMember(files, u"deletefolder", {pattern, true}), PlatformError);
}

// Records what Invoke receives, arguments in the caller's order, and answers as told. It lives on
// the test's stack: its count only has to be right, not to free it.
class StubDispatch final : public IDispatch {
 public:
  std::vector<std::wstring> arguments;
  WORD flags = 0;
  std::function<HRESULT(VARIANT*, EXCEPINFO*)> answer = [](VARIANT*, EXCEPINFO*) { return S_OK; };
  ULONG references = 1;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID* id) override {
    *id = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD callFlags, DISPPARAMS* parameters,
                                   VARIANT* result, EXCEPINFO* info, UINT*) override {
    flags = callFlags;
    for (UINT i = parameters->cArgs; i-- > 0;) {
      arguments.push_back(Described(parameters->rgvarg[i]));
    }
    return answer(result, info);
  }

 private:
  static std::wstring Described(const VARIANT& value) {
    if (value.vt == VT_BSTR) {
      return L"text " + std::wstring(value.bstrVal, SysStringLen(value.bstrVal));
    }
    if (value.vt == VT_BOOL) return L"bool " + std::to_wstring(value.boolVal);
    if (value.vt != VT_DISPATCH) return L"type " + std::to_wstring(value.vt);
    if (!value.pdispVal) return L"no object";
    return L"object of " + std::to_wstring(static_cast<StubDispatch*>(value.pdispVal)->references);
  }
};

ObjectRef Wrapped(StubDispatch& stub) {
  return std::make_shared<DispatchObject>(ComPtr<IDispatch>::Share(&stub));
}

// Counts the task allocator's blocks allocated, and not yet freed, while it is registered. BSTRs
// come from that allocator once oleaut32 keeps no cache of freed strings.
class LiveAllocations final : public IMallocSpy {
 public:
  LiveAllocations() {
    auto noCache = reinterpret_cast<void(WINAPI*)()>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"oleaut32.dll"), "SetOaNoCache")));
    if (noCache) noCache();
    EXPECT_EQ(CoRegisterMallocSpy(this), S_OK);
  }
  ~LiveAllocations() { CoRevokeMallocSpy(); }
  std::atomic<int> count = 0;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    *object = IsEqualIID(iid, IID_IMallocSpy) ? this : nullptr;
    return *object ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T size) override { return size; }
  void* STDMETHODCALLTYPE PostAlloc(void* block) override {
    count += block ? 1 : 0;
    return block;
  }
  void* STDMETHODCALLTYPE PreFree(void* block, BOOL spied) override {
    count -= block && spied ? 1 : 0;
    return block;
  }
  void STDMETHODCALLTYPE PostFree(BOOL) override {}
  SIZE_T STDMETHODCALLTYPE PreRealloc(void* block, SIZE_T size, void** used, BOOL) override {
    *used = block;
    return size;
  }
  void* STDMETHODCALLTYPE PostRealloc(void* block, BOOL) override { return block; }
  void* STDMETHODCALLTYPE PreGetSize(void* block, BOOL) override { return block; }
  SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T size, BOOL) override { return size; }
  void* STDMETHODCALLTYPE PreDidAlloc(void* block, BOOL) override { return block; }
  int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int answer) override { return answer; }
  void STDMETHODCALLTYPE PreHeapMinimize() override {}
  void STDMETHODCALLTYPE PostHeapMinimize() override {}
};

TEST_F(AutomationTest, PassesArgumentsInOrderAndANullObjectComesBackAsNothing) {
  using namespace std::string_literals;
  StubDispatch target, argument;
  target.answer = [](VARIANT* result, EXCEPINFO*) {
    result->vt = VT_DISPATCH;
    result->pdispVal = nullptr;
    return S_OK;
  };
  ObjectRef argumentObject = Wrapped(argument);
  const ULONG baseline = argument.references;
  Value result = platform_.CallMember(Wrapped(target), u"CopyHere",
                                      {u"a\0b"s, true, argumentObject, false, ObjectRef()});
  EXPECT_EQ(target.arguments,
            (std::vector{L"text a\0b"s, L"bool -1"s, L"object of " + std::to_wstring(baseline + 1),
                         L"bool 0"s, L"no object"s}));
  EXPECT_EQ(target.flags, DISPATCH_METHOD | DISPATCH_PROPERTYGET);
  EXPECT_EQ(argument.references, baseline);
  EXPECT_EQ(target.references, 1u);
  EXPECT_TRUE(std::holds_alternative<std::monostate>(result));
}

TEST_F(AutomationTest, AMemberExceptionGivesItsDescriptionAndItsStringsAreFreed) {
  StubDispatch target;
  target.answer = [](VARIANT*, EXCEPINFO* info) {
    info->bstrSource = SysAllocString(L"stub");
    info->bstrDescription = SysAllocString(L"The disk is full");
    info->bstrHelpFile = SysAllocString(L"stub.chm");
    return DISP_E_EXCEPTION;
  };
  ObjectRef object = Wrapped(target);
  LiveAllocations allocations;
  try {
    platform_.CallMember(object, u"CopyHere", {std::u16string(u"x")});
    ADD_FAILURE() << "no exception";
  } catch (const PlatformError& error) {
    EXPECT_STREQ(error.what(), "calling CopyHere failed: The disk is full");
  }
  EXPECT_EQ(allocations.count, 0);
}

// The shell may go on copying on a thread of its own, holding a reference to the process, and
// that thread may need the caller's messages answered. The call must not return before it lets go.
TEST_F(AutomationTest, ACallReturnsOnlyAfterTheShellLetsGoOfTheProcess) {
  HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                nullptr);
  HRESULT taken = E_FAIL;
  std::atomic<bool> answered = false;
  std::thread copier;
  StubDispatch target;
  target.answer = [&](VARIANT*, EXCEPINFO*) {
    std::atomic<bool> held = false;
    copier = std::thread([&] {
      ComPtr<IUnknown> process;
      taken = SHGetInstanceExplorer(process.Put());
      held = true;
      answered = SendMessageTimeoutW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"copied"),
                                     SMTO_NORMAL, 60000, nullptr) != 0;
    });
    while (!held) std::this_thread::yield();
    return S_OK;
  };
  platform_.CallMember(Wrapped(target), u"CopyHere", {});
  EXPECT_TRUE(answered);
  copier.join();
  EXPECT_EQ(taken, S_OK);
  DestroyWindow(window);
}

// The run holds the objects of Namespace and items across later calls, and the shell may keep a
// reference while they live: no wait follows those calls. A wrong wait ends at the timer, and
// fails.
TEST_F(AutomationTest, ANamespaceCallReturnsWhileTheShellHoldsTheProcess) {
  static ComPtr<IUnknown> process;
  StubDispatch target;
  target.answer = [](VARIANT*, EXCEPINFO*) { return SHGetInstanceExplorer(process.Put()); };
  UINT_PTR timer =
      SetTimer(nullptr, 0, 60000, [](HWND, UINT, UINT_PTR, DWORD) { process.Reset(); });
  platform_.CallMember(Wrapped(target), u"Namespace", {});
  EXPECT_TRUE(process.Get()) << "the call waited for the shell";
  KillTimer(nullptr, timer);
  process.Reset();
}

}  // namespace
}  // namespace zipdrop
