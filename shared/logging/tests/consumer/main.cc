#include <zindle/logging.h>

#include <string>

namespace {

// Logs after main has returned: the registry must still be there.
struct LogsAtExit {
  ~LogsAtExit() { zindle::logging::get_logger("consumer.exit").warning("after main"); }
} logs_at_exit;

}  // namespace

int main() {
  auto& log = zindle::logging::get_logger();
  log.info("below the threshold");
  log.warning("disk {} is full", std::string("/var"));
  zindle::logging::get_logger("zindle.auth").error("token {} expired", 42);
  log.warning("braces {} kept");
  log.setLevel(zindle::logging::DEBUG);
  zindle::logging::get_logger().debug("level {} stays", "DEBUG");
  return 0;
}
