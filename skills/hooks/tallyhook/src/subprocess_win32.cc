#include <algorithm>
#include <atomic>
#include <cstdint>
#include <vector>

#include "subprocess.h"
#include "win32.h"
#include "windows_command_line.h"

namespace tallyhook {
namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD kPipeBufferSize = 65536;

Error system_error(const std::string& what, DWORD code) {
  return Error{what + ": " + std::system_category().message(static_cast<int>(code))};
}

// One of the child's output streams. Anonymous pipes cannot be read with a time limit, so
// this is a named pipe whose end here is read asynchronously (overlapped); the child gets
// the other end as a plain handle. Reading and discarding goes on until the child's end
// and every copy of it are closed.
class OutputPipe {
 public:
  OutputPipe() = default;
  OutputPipe(const OutputPipe&) = delete;
  OutputPipe& operator=(const OutputPipe&) = delete;
  ~OutputPipe() { close(); }

  // Creates the pipe; the child's end can be inherited. False on failure, with the error in
  // GetLastError().
  bool open() {
    static std::atomic<unsigned> serial{0};
    const std::wstring name = L"\\\\.\\pipe\\tallyhook-" + std::to_wstring(GetCurrentProcessId()) +
                              L"-" + std::to_wstring(serial++) + L"-" +
                              std::to_wstring(GetTickCount64());
    // The first instance, so that nobody else's pipe of that name is joined; local only.
    read_.reset(CreateNamedPipeW(
        name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0,
        kPipeBufferSize, 0, nullptr));
    if (!read_) return false;
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    child_end_.reset(CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inheritable, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!child_end_) return false;
    event_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    return static_cast<bool>(event_);
  }

  HANDLE child_end() const { return child_end_.get(); }
  void close_child_end() { child_end_.reset(); }
  bool is_open() const { return static_cast<bool>(read_); }

  // Makes sure a read is under way and returns the event that is set when it ends; null
  // once the stream has ended.
  HANDLE wait_handle() {
    while (read_ && !pending_) {
      overlapped_ = OVERLAPPED{};
      overlapped_.hEvent = event_.get();
      ResetEvent(event_.get());
      // Even a read that is done at once sets the event, so its end is handled like any other.
      if (!ReadFile(read_.get(), buffer_.data(), kPipeBufferSize, nullptr, &overlapped_) &&
          GetLastError() != ERROR_IO_PENDING) {
        close();  // ERROR_BROKEN_PIPE: every writer has gone
        break;
      }
      pending_ = true;
    }
    return read_ ? event_.get() : nullptr;
  }

  // Takes the result of a read that has ended, dropping what it read.
  void finish_read() {
    if (!pending_ || WaitForSingleObject(event_.get(), 0) != WAIT_OBJECT_0) return;
    pending_ = false;
    DWORD count = 0;
    if (!GetOverlappedResult(read_.get(), &overlapped_, &count, FALSE)) close();
  }

  // Stops reading. A read under way is cancelled and waited for, since it writes into this
  // object until it has ended.
  void close() {
    if (pending_) {
      CancelIoEx(read_.get(), &overlapped_);
      DWORD count = 0;
      GetOverlappedResult(read_.get(), &overlapped_, &count, TRUE);
      pending_ = false;
    }
    read_.reset();
  }

 private:
  UniqueHandle read_;
  UniqueHandle child_end_;
  UniqueHandle event_;
  OVERLAPPED overlapped_{};
  bool pending_ = false;
  std::vector<char> buffer_ = std::vector<char>(kPipeBufferSize);
};

// The handles a child may inherit, and no others, however many inheritable handles this
// process holds: the list is handed to CreateProcessW.
class InheritedHandles {
 public:
  explicit InheritedHandles(std::vector<HANDLE> handles) : handles_(std::move(handles)) {}
  InheritedHandles(const InheritedHandles&) = delete;
  InheritedHandles& operator=(const InheritedHandles&) = delete;
  ~InheritedHandles() {
    if (initialized_) DeleteProcThreadAttributeList(list());
  }

  // False on failure, with the error in GetLastError().
  bool initialize() {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    storage_.resize(size);
    if (!InitializeProcThreadAttributeList(list(), 1, 0, &size)) return false;
    initialized_ = true;
    return UpdateProcThreadAttribute(list(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                     handles_.size() * sizeof(HANDLE), nullptr, nullptr) != 0;
  }

  LPPROC_THREAD_ATTRIBUTE_LIST list() {
    return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
  }

 private:
  std::vector<HANDLE> handles_;
  std::vector<std::uint8_t> storage_;
  bool initialized_ = false;
};

// An inheritable copy of this process's standard input for the child, or the null device when
// there is none, so that the child always has one to read its end from.
UniqueHandle child_standard_input() {
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  HANDLE copy = nullptr;
  if (input != nullptr && input != INVALID_HANDLE_VALUE &&
      DuplicateHandle(GetCurrentProcess(), input, GetCurrentProcess(), &copy, 0, TRUE,
                      DUPLICATE_SAME_ACCESS)) {
    return UniqueHandle(copy);
  }
  return UniqueHandle(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  &inheritable, OPEN_EXISTING, 0, nullptr));
}

}  // namespace

Status run_discarding_output(const std::vector<std::string>& argv,
                             std::chrono::milliseconds time_limit) {
  const Clock::time_point deadline = Clock::now() + time_limit;
  if (argv.empty()) return Error{"no program to start"};
  for (const std::string& arg : argv) {
    if (arg.find('\0') != std::string::npos) return Error{"an argument holds a NUL character"};
  }
  const std::optional<std::string> command_line = windows_command_line(argv);
  if (!command_line) return Error{"cannot pass " + argv[0] + " as a program name"};
  const std::optional<std::wstring> program = to_wide(argv[0]);
  std::optional<std::wstring> command = to_wide(*command_line);
  if (!program || !command) return Error{"an argument is not valid UTF-8"};

  OutputPipe out, err;
  if (!out.open() || !err.open()) return system_error("cannot create a pipe", GetLastError());
  const UniqueHandle input = child_standard_input();
  if (!input) return system_error("cannot open an input for the child", GetLastError());

  PROCESS_INFORMATION started{};
  {
    InheritedHandles inherited({input.get(), out.child_end(), err.child_end()});
    if (!inherited.initialize()) {
      return system_error("cannot limit the inherited handles", GetLastError());
    }
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = input.get();
    startup.StartupInfo.hStdOutput = out.child_end();
    startup.StartupInfo.hStdError = err.child_end();
    startup.lpAttributeList = inherited.list();
    // No console window of its own: the report runs unseen, as on POSIX.
    if (!CreateProcessW(program->c_str(), command->data(), nullptr, nullptr, TRUE,
                        EXTENDED_STARTUPINFO_PRESENT | CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup.StartupInfo, &started)) {
      return system_error("cannot start " + argv[0], GetLastError());
    }
  }
  const UniqueHandle process(started.hProcess);
  CloseHandle(started.hThread);
  // Only the child holds its ends now, so the streams end when it (and whatever it passed
  // them on to) is done with them.
  out.close_child_end();
  err.close_child_end();

  bool exited = false;
  while (out.is_open() || err.is_open() || !exited) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    HANDLE waits[3];
    DWORD count = 0;
    for (OutputPipe* pipe : {&out, &err}) {
      if (const HANDLE event = pipe->wait_handle()) waits[count++] = event;
    }
    if (!exited) waits[count++] = process.get();
    if (count == 0) continue;  // both streams ended just now
    const DWORD woke =
        WaitForMultipleObjects(count, waits, FALSE, static_cast<DWORD>(left.count()));
    if (woke == WAIT_FAILED) break;
    out.finish_read();
    err.finish_read();
    if (!exited) exited = WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0;
  }
  if (!exited) {
    TerminateProcess(process.get(), 1);
    WaitForSingleObject(process.get(), INFINITE);
  }
  const bool streams_ended = !out.is_open() && !err.is_open();
  // Whatever still holds the streams is left alone; only the reading stops.
  out.close();
  err.close();
  if (!exited || !streams_ended) {
    return Error{argv[0] + " did not finish within " + std::to_string(time_limit.count()) + " ms"};
  }
  return ok_status();
}

}  // namespace tallyhook
