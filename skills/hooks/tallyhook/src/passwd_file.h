#ifndef TALLYHOOK_PASSWD_FILE_H_
#define TALLYHOOK_PASSWD_FILE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tallyhook {

// The home directory of the account with user id `uid` in `passwd`, a text in the format of
// /etc/passwd: one account a line, "name:password:uid:gid:comment:home:shell". The first
// entry with that id counts, as in the C library's own reading of the file. Lines that are
// not of that form (too few or too many fields, a uid that is no decimal number, comments,
// NIS "+" and "-" entries) are skipped. Nothing when no entry has the id or its home field
// is empty.
std::optional<std::string> home_in_passwd(std::string_view passwd, std::uint64_t uid);

}  // namespace tallyhook

#endif  // TALLYHOOK_PASSWD_FILE_H_
