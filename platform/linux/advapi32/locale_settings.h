// The LANG and LC_* settings of a locale file (/etc/default/locale,
// /etc/locale.conf): NAME=value lines, values optionally in quotes, comments
// and anything else skipped. A pure function of the file's bytes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillon::advapi32 {

// NAME=value entries in the order their names first appear; a later line of
// the same name replaces the value.
std::vector<std::string> parseLocaleSettings(std::string_view text);

} // namespace quillon::advapi32
