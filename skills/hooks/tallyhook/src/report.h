#ifndef TALLYHOOK_REPORT_H_
#define TALLYHOOK_REPORT_H_

#include <chrono>
#include <string>
#include <string_view>

#include "result.h"

namespace tallyhook {

// How long the product's tool may take to deliver one report.
inline constexpr std::chrono::seconds REPORT_TIME_LIMIT{10};

// The product's tool in `program_dir`: "zindle.exe" when an entry of that name exists
// there (following links), on every platform, otherwise "zindle" untested. Fails when the
// existence test itself fails for another reason than absence.
Result<std::string> zindle_command(const std::string& program_dir);

// Starts `zindle skills report-usage NAME` from `program_dir` and waits for it, at most
// `time_limit`; its output is thrown away and its exit status ignored. Fails when the tool
// cannot be started or does not finish in time. Nothing is retried.
Status report_usage_from(const std::string& program_dir, std::string_view skill_name,
                         std::chrono::milliseconds time_limit);

// report_usage_from for the directory of the running program and REPORT_TIME_LIMIT.
Status _report_usage(std::string_view skill_name);

}  // namespace tallyhook

#endif  // TALLYHOOK_REPORT_H_
