#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "home_dir.h"
#include "posix_fd.h"

#ifdef __APPLE__
#include <pwd.h>

#include <vector>
#else
#include "passwd_file.h"
#endif

namespace tallyhook {
namespace {

#ifdef __APPLE__
// macOS keeps accounts in its directory service, reached only through the C library; a
// macOS program is never static, so that is safe there.
std::optional<std::string> account_home() {
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
#else
// The account's entry in /etc/passwd, read directly. The C library's lookup would load the
// name-service modules that nsswitch.conf lists (systemd, LDAP, sssd) into this static
// program, which crashes it; accounts known only to those services need HOME, which every
// agent host sets.
std::optional<std::string> account_home() {
  UniqueFd file(open("/etc/passwd", O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!file) return std::nullopt;
  std::string passwd;
  char buffer[16384];
  for (ssize_t n; (n = read(file.get(), buffer, sizeof buffer)) != 0;) {
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    passwd.append(buffer, static_cast<std::size_t>(n));
  }
  return home_in_passwd(passwd, getuid());
}
#endif

}  // namespace

std::optional<std::string> home_directory() {
  // An empty HOME names no directory; taking it literally would put markers under "/".
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  return account_home();
}

}  // namespace tallyhook
