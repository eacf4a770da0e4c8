#include <atomic>
#include <cstdint>
#include <cwchar>
#include <cwctype>
#include <random>
#include <stdexcept>

#include "test_support.h"
#include "win32.h"
#include "windows_command_line.h"

namespace tallyhook::testing {
namespace {

void check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what + ": Windows error " + std::to_string(GetLastError()));
}

std::wstring wide(const std::string& text) {
  const std::optional<std::wstring> converted = to_wide(text);
  if (!converted) throw std::runtime_error("not convertible to UTF-16: " + text);
  return *converted;
}

constexpr std::int64_t kTicksFrom1601To1970 = 116'444'736'000'000'000;

// Inheritable: for the handles a started program gets.
SECURITY_ATTRIBUTES inheritable() {
  return SECURITY_ATTRIBUTES{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
}

// The environment of this process with `overrides` applied, as CreateProcessW takes it. Names
// are compared without regard to case, as Windows does.
std::wstring environment_block(const std::map<std::string, std::optional<std::string>>& overrides) {
  std::map<std::wstring, std::wstring> entries;  // by upper-case name: the whole "NAME=value"
  auto key = [](std::wstring name) {
    for (wchar_t& c : name) c = static_cast<wchar_t>(std::towupper(c));
    return name;
  };
  wchar_t* const block = GetEnvironmentStringsW();
  for (const wchar_t* entry = block; *entry != L'\0'; entry += wcslen(entry) + 1) {
    const std::wstring text = entry;
    const std::size_t eq = text.find(L'=', 1);  // "=C:=C:\..." entries start with '='
    entries[key(text.substr(0, eq))] = text;
  }
  FreeEnvironmentStringsW(block);
  for (const auto& [name, value] : overrides) {
    if (value) {
      entries[key(wide(name))] = wide(name + "=" + *value);
    } else {
      entries.erase(key(wide(name)));
    }
  }
  std::wstring result;
  for (const auto& [name, entry] : entries) {
    result += entry;
    result += L'\0';
  }
  result += L'\0';
  return result;
}

}  // namespace

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  for (;;) {
    path_ = std::filesystem::temp_directory_path() /
            ("tallyhook-test-" + std::to_string(GetCurrentProcessId()) + "-" +
             std::to_string(counter++) + "-" + std::to_string(random()));
    if (std::filesystem::create_directory(path_)) return;
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

WallTime modification_time(const std::filesystem::path& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  check(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data),
        "GetFileAttributesExW " + path.string());
  const auto ticks =
      static_cast<std::int64_t>((std::uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) |
                                data.ftLastWriteTime.dwLowDateTime);
  return WallTime((ticks - kTicksFrom1601To1970) * 100);
}

namespace {

void set_ticks(const std::filesystem::path& path, std::int64_t ticks_from_1601) {
  const UniqueHandle file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  check(static_cast<bool>(file), "open " + path.string());
  const auto ticks = static_cast<std::uint64_t>(ticks_from_1601);
  const FILETIME when{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  check(SetFileTime(file.get(), nullptr, &when, &when), "SetFileTime " + path.string());
}

}  // namespace

void set_modification_time(const std::filesystem::path& path, WallTime time) {
  set_ticks(path, time.count() / 100 + kTicksFrom1601To1970);
}

void set_modification_time(const std::filesystem::path& path, std::int64_t seconds) {
  set_ticks(path, seconds * 10'000'000 + kTicksFrom1601To1970);
}

ScopedEnvironment::ScopedEnvironment(
    const std::map<std::string, std::optional<std::string>>& values) {
  for (const auto& [name, value] : values) {
    const std::wstring wide_name = wide(name);
    wchar_t buffer[32768];
    SetLastError(ERROR_SUCCESS);
    const DWORD length = GetEnvironmentVariableW(wide_name.c_str(), buffer, 32768);
    saved_[name] = length > 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND
                       ? to_utf8(std::wstring_view(buffer, length))
                       : std::nullopt;
    SetEnvironmentVariableW(wide_name.c_str(), value ? wide(*value).c_str() : nullptr);
  }
}

ScopedEnvironment::~ScopedEnvironment() {
  for (const auto& [name, value] : saved_) {
    SetEnvironmentVariableW(wide(name).c_str(), value ? wide(*value).c_str() : nullptr);
  }
}

bool process_running(int pid) {
  const UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid)));
  return process && WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

void kill_process(int pid) {
  const UniqueHandle process(
      OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, static_cast<DWORD>(pid)));
  if (!process) return;
  TerminateProcess(process.get(), 1);
  WaitForSingleObject(process.get(), INFINITE);
}

struct MarkerLock::State {
  UniqueHandle marker;
};

MarkerLock::MarkerLock(const std::filesystem::path& marker) : state_(std::make_unique<State>()) {
  state_->marker.reset(CreateFileW(marker.c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
  OVERLAPPED first_byte{};
  check(state_->marker &&
            LockFileEx(state_->marker.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &first_byte),
        "lock " + marker.string());
}

MarkerLock::~MarkerLock() = default;

bool create_symlink(const std::filesystem::path& target, const std::filesystem::path& link) {
  constexpr DWORD kAllowUnprivilegedCreate = 0x2;  // developer mode
  CreateSymbolicLinkW(link.c_str(), target.c_str(), kAllowUnprivilegedCreate);
  const DWORD attributes = GetFileAttributesW(link.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

void install_tool(const std::filesystem::path& path, const ToolScript& script) {
  std::filesystem::copy_file(TALLYHOOK_STAND_IN, path,
                             std::filesystem::copy_options::overwrite_existing);
  std::string steps;
  for (const std::vector<std::string>& step : script.steps) {
    for (std::size_t i = 0; i < step.size(); ++i) steps += (i == 0 ? "" : "\t") + step[i];
    steps += '\n';
  }
  std::filesystem::path steps_path = path;
  steps_path += ".steps";
  write_file(steps_path, steps);
}

struct RunningProcess::State {
  UniqueHandle process;
  UniqueHandle input;
  std::filesystem::path out_path, err_path;
  bool read_all_input = false;
};

RunningProcess::RunningProcess(const ProcessOptions& options) : state_(std::make_unique<State>()) {
  static std::atomic<int> counter{0};
  const std::string id = std::to_string(GetCurrentProcessId()) + "." + std::to_string(counter++);
  state_->out_path = options.output_dir / ("stdout." + id);
  state_->err_path = options.output_dir / ("stderr." + id);

  HANDLE input_read = nullptr, input_write = nullptr;
  check(CreatePipe(&input_read, &input_write, nullptr, 0), "CreatePipe");
  const UniqueHandle child_input(input_read);
  state_->input.reset(input_write);
  check(SetHandleInformation(child_input.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT),
        "SetHandleInformation");
  SECURITY_ATTRIBUTES to_child = inheritable();
  const UniqueHandle out(CreateFileW(state_->out_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                     &to_child, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  const UniqueHandle err(CreateFileW(state_->err_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                     &to_child, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  check(out && err, "create the output files");

  // Only these three handles reach the program: not the input pipes of others started
  // alongside it, which would keep their input open.
  HANDLE handles[] = {child_input.get(), out.get(), err.get()};
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<std::uint8_t> storage(size);
  auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
  check(InitializeProcThreadAttributeList(attributes, 1, 0, &size) &&
            UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles,
                                      sizeof handles, nullptr, nullptr),
        "the attribute list");
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = child_input.get();
  startup.StartupInfo.hStdOutput = out.get();
  startup.StartupInfo.hStdError = err.get();
  startup.lpAttributeList = attributes;

  const std::optional<std::string> command_line = windows_command_line(options.argv);
  check(command_line.has_value(), "a command line for " + options.argv.at(0));
  std::wstring command = wide(*command_line);
  std::wstring environment = environment_block(options.env);
  const std::wstring cwd = options.cwd ? options.cwd->wstring() : std::wstring();
  PROCESS_INFORMATION started{};
  BOOL ok;
  // Wine now and then fails a start with ERROR_INTERNAL_ERROR when many come at once; a
  // second try goes through. (Windows itself does not.)
  for (int attempt = 0;; ++attempt) {
    ok = CreateProcessW(wide(options.argv[0]).c_str(), command.data(), nullptr, nullptr, TRUE,
                        CREATE_UNICODE_ENVIRONMENT | EXTENDED_STARTUPINFO_PRESENT,
                        environment.data(), options.cwd ? cwd.c_str() : nullptr,
                        &startup.StartupInfo, &started);
    if (ok || GetLastError() != ERROR_INTERNAL_ERROR || attempt == 4) break;
    Sleep(50);
  }
  DeleteProcThreadAttributeList(attributes);
  check(ok, "CreateProcessW " + options.argv[0]);
  CloseHandle(started.hThread);
  state_->process.reset(started.hProcess);
}

RunningProcess::~RunningProcess() {
  state_->input.reset();
  if (state_->process) {
    TerminateProcess(state_->process.get(), 1);
    WaitForSingleObject(state_->process.get(), INFINITE);
  }
}

void RunningProcess::send(const std::string& input) {
  std::size_t done = 0;
  while (done < input.size()) {
    DWORD written = 0;
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(input.size() - done, 1 << 20));
    if (!WriteFile(state_->input.get(), input.data() + done, chunk, &written, nullptr)) break;
    done += written;
  }
  state_->input.reset();
  state_->read_all_input = done == input.size();
}

ProcessResult RunningProcess::wait() {
  WaitForSingleObject(state_->process.get(), INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(state_->process.get(), &status);
  state_->process.reset();
  ProcessResult result;
  result.exit_status = static_cast<int>(status);
  result.out = read_file(state_->out_path);
  result.err = read_file(state_->err_path);
  result.read_all_input = state_->read_all_input;
  return result;
}

}  // namespace tallyhook::testing
