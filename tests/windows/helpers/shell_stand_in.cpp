// A stand-in for the shell's automation object, for the end-to-end tests under Wine, whose shell
// cannot open a ZIP file as a folder and whose CopyHere copies nothing. Registered for the ProgID
// "Shell.Application", it serves NameSpace, Items and CopyHere, and takes a folder "X.zip.d"
// beside "X.zip" for the archive's contents. It appends each call, with the object it was made on
// and every argument, to the file named by ZIPDROP_SHELL_LOG, and copies on a thread of its own
// after a pause, as the shell's ZIP folder does. ZIPDROP_SHELL_MODE picks one behaviour:
//   hold     the copy holds a reference to the process from SHGetInstanceExplorer until it is done;
//   nohold   the copy holds none, so nothing tells the caller to wait for it;
//   folders  as hold, and every folder object holds a reference for as long as it lives;
//   send     as hold, and the copy first waits for a window of the caller's thread to answer.
#include <windows.h>
// After windows.h, whose types it uses.
#include <shlobj.h>

#include <string>

namespace {

// {5F1C6A3E-1D2B-4C7A-9E51-3A6B0C27D481}, also written in the test that registers the class.
const CLSID kClassId = {
    0x5f1c6a3e, 0x1d2b, 0x4c7a, {0x9e, 0x51, 0x3a, 0x6b, 0x0c, 0x27, 0xd4, 0x81}};
const wchar_t* const kMembers[] = {L"NameSpace", L"Items", L"CopyHere"};
enum Kind { kShell, kFolder, kItemList };

std::wstring Environment(const wchar_t* name) {
  wchar_t value[1024] = {};
  DWORD length = GetEnvironmentVariableW(name, value, 1024);
  return length < 1024 ? value : L"";
}

bool InMode(const wchar_t* mode) { return Environment(L"ZIPDROP_SHELL_MODE") == mode; }

void Log(const std::wstring& line) {
  std::wstring text = line + L"\n";
  std::string utf8(text.size() * 3, '\0');
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                  utf8.data(), static_cast<int>(utf8.size()), nullptr, nullptr);
  HANDLE file = CreateFileW(Environment(L"ZIPDROP_SHELL_LOG").c_str(), FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, utf8.data(), static_cast<DWORD>(bytes), &written, nullptr);
  CloseHandle(file);
}

void CopyTree(const std::wstring& from, const std::wstring& to) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((from + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    std::wstring name = found.cFileName, source = from + L"\\" + name, target = to + L"\\" + name;
    if (name == L"." || name == L"..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      CreateDirectoryW(target.c_str(), nullptr);
      CopyTree(source, target);
    } else {
      CopyFileW(source.c_str(), target.c_str(), FALSE);
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

struct Copy {
  std::wstring from, to;
  IUnknown* process;  // Null when the copy holds no reference.
  HWND window;        // Null when the copy needs no answer from the caller's thread.
};

// The pause lets a caller that does not wait end before the files are there. A copy that holds
// no reference waits far longer than any caller takes to end, so that the control row cannot pass
// by chance on a slow machine.
DWORD WINAPI CopyLater(void* parameter) {
  Copy* copy = static_cast<Copy*>(parameter);
  Sleep(copy->process ? 2000 : 120000);
  if (!copy->window ||
      SendMessageW(copy->window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"copying"))) {
    CopyTree(copy->from, copy->to);
  }
  if (copy->process) copy->process->Release();
  delete copy;
  return 0;
}

class Object final : public IDispatch {
 public:
  Object(Kind kind, std::wstring path) : kind_(kind), path_(std::move(path)) {
    if (kind == kFolder && InMode(L"folders")) SHGetInstanceExplorer(&process_);
  }
  ~Object() {
    if (process_) process_->Release();
  }

  // Asking for the class's own identifier gives the object itself, so that CopyHere can read
  // the folder behind the items it is given.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    bool known = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
                 IsEqualIID(iid, kClassId);
    *object = known ? this : nullptr;
    if (known) AddRef();
    return known ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    for (DISPID id = 0; id < 3; ++id) {
      if (count == 1 && CompareStringOrdinal(names[0], -1, kMembers[id], -1, TRUE) == CSTR_EQUAL) {
        *ids = id;
        return S_OK;
      }
    }
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* parameters,
                                   VARIANT* result, EXCEPINFO*, UINT*) override {
    if (id < 0 || id > 2) return DISP_E_MEMBERNOTFOUND;
    Log(Described(id, *parameters));
    if (result) VariantInit(result);
    if (id == 0 && kind_ == kShell) return NameSpace(*parameters, result);
    if (id == 1 && kind_ == kFolder && result) {
      result->vt = VT_DISPATCH;
      result->pdispVal = new Object(kItemList, path_);
      return S_OK;
    }
    if (id == 2 && kind_ == kFolder) return CopyHere(*parameters);
    return DISP_E_MEMBERNOTFOUND;
  }

 private:
  std::wstring Described(DISPID id, const DISPPARAMS& parameters) const;

  static Object* Ours(const VARIANT& value) {
    Object* object = nullptr;
    if (value.vt == VT_DISPATCH && value.pdispVal) {
      value.pdispVal->QueryInterface(kClassId, reinterpret_cast<void**>(&object));
    }
    if (object) object->Release();  // The caller's own reference keeps it alive.
    return object;
  }

  // The folder's objects are made only for a folder that exists; like the shell, Nothing else.
  HRESULT NameSpace(const DISPPARAMS& parameters, VARIANT* result) {
    if (parameters.cArgs != 1 || parameters.rgvarg[0].vt != VT_BSTR || !result) {
      return DISP_E_TYPEMISMATCH;
    }
    std::wstring path = parameters.rgvarg[0].bstrVal;
    size_t length = path.size();
    if (length > 4 &&
        CompareStringOrdinal(path.c_str() + length - 4, -1, L".zip", -1, TRUE) == CSTR_EQUAL) {
      path += L".d";
    }
    DWORD attributes = GetFileAttributesW(path.c_str());
    bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    result->vt = VT_DISPATCH;
    result->pdispVal = folder ? new Object(kFolder, path) : nullptr;
    return S_OK;
  }

  HRESULT CopyHere(const DISPPARAMS& parameters) {
    Object* items = parameters.cArgs == 1 ? Ours(parameters.rgvarg[0]) : nullptr;
    if (!items || items->kind_ != kItemList) return DISP_E_TYPEMISMATCH;
    auto* copy = new Copy{items->path_, path_, nullptr, nullptr};
    if (!InMode(L"nohold")) SHGetInstanceExplorer(&copy->process);
    if (InMode(L"send")) {
      copy->window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                     nullptr, nullptr);
    }
    CloseHandle(CreateThread(nullptr, 0, &CopyLater, copy, 0, nullptr));
    return S_OK;
  }

  LONG references_ = 1;
  Kind kind_;
  std::wstring path_;
  IUnknown* process_ = nullptr;
};

// "Member|object|count|argument|...": the object is "shell" or its folder, the arguments are in
// the caller's order, and named arguments, which no call here takes, are counted apart.
std::wstring Object::Described(DISPID id, const DISPPARAMS& parameters) const {
  std::wstring line = kMembers[id] + (L"|" + path_) + L"|" + std::to_wstring(parameters.cArgs);
  for (UINT i = parameters.cArgs; i-- > 0;) {
    const VARIANT& value = parameters.rgvarg[i];
    Object* object = Ours(value);
    if (value.vt == VT_BSTR) {
      line += L"|text:" + std::wstring(value.bstrVal ? value.bstrVal : L"");
    } else if (object) {
      line += L"|object:" + object->path_;
    } else {
      line += L"|type:" + std::to_wstring(value.vt);
    }
  }
  if (parameters.cNamedArgs) line += L"|named:" + std::to_wstring(parameters.cNamedArgs);
  return line;
}

class Factory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    bool known = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory);
    *object = known ? this : nullptr;
    return known ? S_OK : E_NOINTERFACE;
  }
  // The factory is static and lives as long as the DLL, which is never unloaded.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (outer) return CLASS_E_NOAGGREGATION;
    Object* shell = new Object(kShell, L"shell");
    HRESULT answer = shell->QueryInterface(iid, object);
    shell->Release();
    return answer;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory factory;

}  // namespace

STDAPI DllGetClassObject(REFCLSID classId, REFIID iid, void** object) {
  if (!IsEqualCLSID(classId, kClassId)) return CLASS_E_CLASSNOTAVAILABLE;
  return factory.QueryInterface(iid, object);
}

// Copy threads run code of this DLL after the objects that started them are gone.
STDAPI DllCanUnloadNow() { return S_FALSE; }
