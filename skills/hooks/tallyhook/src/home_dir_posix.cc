#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "home_dir.h"

namespace tallyhook {

std::optional<std::string> home_directory() {
  // An empty HOME names no directory; taking it literally would put markers under "/".
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;

  long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 4096);
  passwd entry;
  passwd* found = nullptr;
  int rc;
  while ((rc = getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
         buffer.size() < (1u << 20)) {
    buffer.resize(buffer.size() * 2);
  }
  if (rc != 0 || found == nullptr || found->pw_dir == nullptr || *found->pw_dir == '\0') {
    return std::nullopt;
  }
  return std::string(found->pw_dir);
}

}  // namespace tallyhook
