#include "registry.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "zindle/logging.h"

namespace zindle::logging::detail {
namespace {

struct Entry {
  explicit Entry(std::string_view name) : logger(std::string(name)) {}
  Logger logger;
  std::mutex configure_mutex;
};

struct Registry {
  std::mutex mutex;  // guards the map only; never held while configuring or logging
  std::map<std::string, std::unique_ptr<Entry>, std::less<>> entries;
};

// Deliberately never destroyed: modules log from static destructors and from threads that
// outlive main, and a registry torn down at exit would leave them dangling references.
Registry& registry() {
  static Registry* const instance = new Registry;
  return *instance;
}

}  // namespace

RegistryEntry registry_entry(std::string_view name) {
  Registry& reg = registry();
  const std::lock_guard lock(reg.mutex);
  auto found = reg.entries.find(name);
  if (found == reg.entries.end()) {
    found = reg.entries.emplace(std::string(name), std::make_unique<Entry>(name)).first;
  }
  return {found->second->logger, found->second->configure_mutex};
}

}  // namespace zindle::logging::detail

namespace zindle::logging {

Logger& getLogger(std::string_view name) { return detail::registry_entry(name).logger; }

}  // namespace zindle::logging
