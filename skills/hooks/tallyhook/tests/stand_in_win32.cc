// Plays the product's tool, or any child program, in the Windows tests, misbehaving as a
// test asks: wine cannot run the shell scripts that play it on POSIX. Its arguments are fixed
// by whoever starts it, so it takes its steps from the file named as itself plus ".steps",
// one step a line, the words separated by tabs:
//   append FILE TEXT  appends TEXT and a line feed to FILE
//   argv FILE         appends its arguments but the first (its own name) to FILE, each
//                     followed by a NUL byte
//   stdin FILE        copies what it reads from its standard input to FILE
//   out TEXT          writes TEXT to its standard output
//   err TEXT          writes TEXT to its standard error
//   flood BYTES       writes BYTES bytes to standard output and as many to standard error,
//                     both at once
//   close-output      closes its standard output and error
//   pid FILE          writes its process id to FILE
//   hold FILE         starts a copy of itself that keeps its standard output and error open
//                     for a minute, and writes the copy's process id to FILE
//   signal HANDLE     sets the event with this handle value (which it has only if the handle
//                     was inherited)
//   sleep MS          sleeps
//   exit STATUS       ends with STATUS
// Without the file, or after the last step, it ends with status 0.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "win32.h"

namespace {

using tallyhook::to_utf8;
using tallyhook::to_wide;

constexpr int kHoldMilliseconds = 60'000;

std::wstring own_path() {
  std::vector<wchar_t> buffer(32768);
  const DWORD length =
      GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  return std::wstring(buffer.data(), length);
}

bool write_all(HANDLE handle, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD written = 0;
    if (!WriteFile(handle, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written,
                   nullptr)) {
      return false;
    }
    done += written;
  }
  return true;
}

void append_to(const std::string& path, const std::string& bytes) {
  const tallyhook::UniqueHandle file(CreateFileW(to_wide(path).value().c_str(), FILE_APPEND_DATA,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  write_all(file.get(), bytes);
}

void write_to(const std::string& path, const std::string& bytes) {
  const tallyhook::UniqueHandle file(CreateFileW(to_wide(path).value().c_str(), GENERIC_WRITE,
                                                 FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                                 FILE_ATTRIBUTE_NORMAL, nullptr));
  write_all(file.get(), bytes);
}

std::string read_standard_input() {
  std::string bytes;
  char buffer[4096];
  DWORD count = 0;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &count, nullptr) &&
         count > 0) {
    bytes.append(buffer, count);
  }
  return bytes;
}

void flood(std::size_t bytes) {
  auto write_zeros = [bytes](DWORD stream) {
    const std::string chunk(65536, '\0');
    for (std::size_t done = 0; done < bytes; done += chunk.size()) {
      if (!write_all(GetStdHandle(stream), chunk.substr(0, bytes - done))) return;
    }
  };
  std::thread out(write_zeros, STD_OUTPUT_HANDLE);
  std::thread err(write_zeros, STD_ERROR_HANDLE);
  out.join();
  err.join();
}

// A copy of this program, started with "--hold", that inherits its standard output and
// error and sits on them.
DWORD start_holder() {
  const std::wstring path = own_path();
  std::wstring command = L"\"" + path + L"\" --hold";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(path.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &started)) {
    return 0;
  }
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  return started.dwProcessId;
}

std::vector<std::vector<std::string>> read_steps() {
  std::ifstream file(std::filesystem::path(own_path() + L".steps"), std::ios::binary);
  std::vector<std::vector<std::string>> steps;
  for (std::string line; std::getline(file, line);) {
    std::vector<std::string> words;
    std::istringstream fields(line);
    for (std::string word; std::getline(fields, word, '\t');) words.push_back(word);
    if (!words.empty()) steps.push_back(words);
  }
  return steps;
}

int run_step(const std::vector<std::string>& step, const std::vector<std::string>& args) {
  const std::string& word = step[0];
  auto arg = [&](std::size_t i) { return i < step.size() ? step[i] : std::string(); };
  if (word == "append") {
    append_to(arg(1), arg(2) + "\n");
  } else if (word == "argv") {
    std::string bytes;
    for (std::size_t i = 1; i < args.size(); ++i) bytes += args[i] + '\0';
    append_to(arg(1), bytes);
  } else if (word == "stdin") {
    write_to(arg(1), read_standard_input());
  } else if (word == "out") {
    write_all(GetStdHandle(STD_OUTPUT_HANDLE), arg(1));
  } else if (word == "err") {
    write_all(GetStdHandle(STD_ERROR_HANDLE), arg(1));
  } else if (word == "flood") {
    flood(std::stoul(arg(1)));
  } else if (word == "close-output") {
    CloseHandle(GetStdHandle(STD_OUTPUT_HANDLE));
    CloseHandle(GetStdHandle(STD_ERROR_HANDLE));
  } else if (word == "pid") {
    write_to(arg(1), std::to_string(GetCurrentProcessId()));
  } else if (word == "hold") {
    write_to(arg(1), std::to_string(start_holder()));
  } else if (word == "signal") {
    SetEvent(reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(std::stoull(arg(1)))));
  } else if (word == "sleep") {
    Sleep(static_cast<DWORD>(std::stoul(arg(1))));
  } else if (word == "exit") {
    return std::stoi(arg(1));
  }
  return -1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(to_utf8(argv[i]).value_or("?"));
  if (args.size() == 2 && args[1] == "--hold") {
    Sleep(kHoldMilliseconds);
    return 0;
  }
  for (const std::vector<std::string>& step : read_steps()) {
    if (const int status = run_step(step, args); status >= 0) return status;
  }
  return 0;
}
