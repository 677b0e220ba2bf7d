#pragma once
// Conversions between wide strings (UTF-16 on Windows, UTF-32 elsewhere) and UTF-8.

#include <string>
#include <string_view>

namespace veltrane {

// Unpaired surrogates and out-of-range values become U+FFFD.
std::string ToUtf8(std::wstring_view text);
// Invalid sequences become U+FFFD.
std::wstring FromUtf8(std::string_view text);
// The text in UTF-8 between double quotes, as messages name paths.
std::string QuotedUtf8(std::wstring_view text);

}  // namespace veltrane
