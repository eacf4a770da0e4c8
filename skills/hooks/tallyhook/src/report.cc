#include "report.h"

#include <optional>
#include <vector>

#include "file_system.h"
#include "program_path.h"
#include "subprocess.h"

namespace tallyhook {

Result<std::string> zindle_command(const std::string& program_dir) {
  std::string command = join_path(program_dir, "zindle.exe");
  std::error_code error;
  if (path_exists(command, error)) return command;
  if (error) return Error{"cannot look for " + command + ": " + error.message()};
  return join_path(program_dir, "zindle");
}

Status report_usage_from(const std::string& program_dir, std::string_view skill_name,
                         std::chrono::milliseconds time_limit) {
  const Result<std::string> command = zindle_command(program_dir);
  if (!command.ok()) return command.error();
  const std::vector<std::string> argv = {command.value(), "skills", "report-usage",
                                         std::string(skill_name)};
  return run_discarding_output(argv, time_limit);
}

Status _report_usage(std::string_view skill_name) {
  const std::optional<std::string> program = program_path();
  if (!program) return Error{"cannot determine the program's own path"};
  return report_usage_from(parent_directory(*program), skill_name, REPORT_TIME_LIMIT);
}

}  // namespace tallyhook
