#include <shlobj.h>

#include <vector>

#include "home_dir.h"
#include "win32.h"

namespace tallyhook {
namespace {

// The variable's value; nothing when it is unset, empty or not convertible.
std::optional<std::string> environment_variable(const wchar_t* name) {
  std::vector<wchar_t> buffer(256);
  for (;;) {
    const DWORD length =
        GetEnvironmentVariableW(name, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::nullopt;
    if (length < buffer.size()) {
      const std::optional<std::string> value = to_utf8(std::wstring_view(buffer.data(), length));
      if (!value || value->empty()) return std::nullopt;
      return value;
    }
    buffer.resize(length);  // the size it needs, its terminating NUL included
  }
}

std::optional<std::string> profile_folder() {
  PWSTR folder = nullptr;
  std::optional<std::string> path;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Profile, KF_FLAG_DONT_VERIFY, nullptr, &folder)) &&
      folder != nullptr) {
    path = to_utf8(folder);
  }
  CoTaskMemFree(folder);
  if (path && path->empty()) return std::nullopt;
  return path;
}

}  // namespace

// HOME first, as a Unix-like shell (Git Bash, MSYS2, Cygwin) sets it, then the user's profile
// folder, from the environment or else from the system.
std::optional<std::string> home_directory() {
  if (std::optional<std::string> home = environment_variable(L"HOME")) return home;
  if (std::optional<std::string> profile = environment_variable(L"USERPROFILE")) return profile;
  return profile_folder();
}

}  // namespace tallyhook
