// A stand-in program for the launch tests. When started, it writes how it was started (the
// window style from its start-up information, its own path, its current folder and its command
// line, one to a line) into the file named by the environment variable ZIPDROP_PROBE_REPORT, so
// a test can tell whether, and which, copy ran, and what it was given.
#include <windows.h>

#include <string>

namespace {

std::wstring ReportText() {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  GetStartupInfoW(&startup);
  int style = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1;
  wchar_t self[MAX_PATH * 4] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
  wchar_t folder[MAX_PATH * 4] = {};
  GetCurrentDirectoryW(MAX_PATH * 4, folder);
  return std::to_wstring(style) + L"\n" + self + L"\n" + folder + L"\n" + GetCommandLineW();
}

// The report is written under another name and then renamed, so a test polling for the file
// never reads it half written.
bool WriteReport(const std::wstring& path, const std::wstring& text) {
  std::wstring partial = path + L".partial";
  HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)),
                      &written, nullptr);
  CloseHandle(file);
  return ok && MoveFileExW(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t path[MAX_PATH * 4] = {};
  DWORD length = GetEnvironmentVariableW(L"ZIPDROP_PROBE_REPORT", path, MAX_PATH * 4);
  if (length == 0 || length >= MAX_PATH * 4) return 2;
  return WriteReport(path, ReportText()) ? 0 : 1;
}
