#include <errno.h>
#include <limits.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>
#include <vector>

#include "file_system.h"
#include "program_path.h"

#if defined(__linux__)
#include <sys/auxv.h>
#elif defined(__APPLE__)
#include <mach-o/dyld.h>
#endif

namespace tallyhook {
namespace {

std::optional<std::string> current_directory() {
  std::vector<char> buffer(PATH_MAX);
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return std::nullopt;
    buffer.resize(buffer.size() * 2);
  }
  return std::string(buffer.data());
}

std::optional<std::string> make_absolute(std::string_view path) {
  if (path.starts_with('/')) return std::string(path);
  const std::optional<std::string> cwd = current_directory();
  if (!cwd) return std::nullopt;
  return join_path(*cwd, path);
}

#if defined(__linux__)
// What a shell does with a bare command name: the first executable file of that name in
// the directories of PATH.
std::optional<std::string> search_path(std::string_view name) {
  const char* path_variable = std::getenv("PATH");
  std::string_view dirs = path_variable != nullptr ? path_variable : "/usr/bin:/bin";
  for (;;) {
    const std::size_t colon = dirs.find(':');
    const std::string_view dir = dirs.substr(0, colon);
    const std::string candidate = join_path(dir.empty() ? "." : dir, name);
    if (access(candidate.c_str(), X_OK) == 0) return make_absolute(candidate);
    if (colon == std::string_view::npos) return std::nullopt;
    dirs.remove_prefix(colon + 1);
  }
}

std::optional<std::string> from_invocation_name(std::string_view argv0) {
  if (argv0.empty()) return std::nullopt;
  if (argv0.find('/') != std::string_view::npos) return make_absolute(argv0);
  return search_path(argv0);
}
#endif

}  // namespace

std::optional<std::string> program_path() {
#if defined(__linux__)
  // The path handed to execve, as it was: /proc/self/exe would resolve links.
  const auto* exec_fn = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
  if (exec_fn != nullptr && *exec_fn != '\0') return make_absolute(exec_fn);
  return from_invocation_name(program_invocation_name);
#elif defined(__APPLE__)
  std::uint32_t size = 0;
  _NSGetExecutablePath(nullptr, &size);
  std::vector<char> buffer(size + 1);
  if (_NSGetExecutablePath(buffer.data(), &size) != 0) return std::nullopt;
  return make_absolute(buffer.data());
#else
  return std::nullopt;
#endif
}

}  // namespace tallyhook
