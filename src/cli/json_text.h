// Text as JSON, for every command that prints it: the batch's report lines, `progress --json` and
// `info --json`.
#pragma once

#include <string>
#include <string_view>

namespace cli {

// `text` as a JSON string with its quotes. Quotes, backslashes and control characters are escaped;
// a byte that is not part of valid UTF-8 becomes U+FFFD, so that every JSON reader takes the text:
// file names on Linux are bytes, and an old song's may be in another encoding.
[[nodiscard]] std::string JsonString(std::string_view text);

}  // namespace cli
