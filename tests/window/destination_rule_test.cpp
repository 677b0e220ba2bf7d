#include "window/destination_rule.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace veltrane {
namespace {

struct RuleCase {
  const char* how;
  const wchar_t* old_map;
  const wchar_t* new_map;
  const wchar_t* destination;
  std::optional<std::wstring> becomes;  // nothing: the destination stays as it is
};

TEST(DestinationForMap, FollowsTheMapUntilTheUserGivesADestination) {
  const RuleCase cases[] = {
      {"the command line's one path, over the starting text", L"c:\\MyMap.w3m",
       L"C:\\maps\\Arena.w3x", L"c:\\MyMapProtected.w3m", L"C:\\maps\\Arena protected.w3x"},
      {"a drop, over an emptied box", L"c:\\MyMap.w3m", L"D:\\Arena.w3m", L"",
       L"D:\\Arena protected.w3m"},
      {"the picker, after the rule named the copy of the map before", L"C:\\maps\\Arena.w3x",
       L"C:\\other\\Duel.w3m", L"C:\\maps\\Arena protected.w3x", L"C:\\other\\Duel protected.w3m"},
      {"a destination the user typed", L"C:\\maps\\Arena.w3x", L"C:\\other\\Duel.w3m",
       L"C:\\out\\mine.w3m", std::nullopt},
  };
  for (const RuleCase& c : cases) {
    SCOPED_TRACE(c.how);
    EXPECT_EQ(DestinationForMap(c.old_map, c.new_map, c.destination), c.becomes);
  }
}

}  // namespace
}  // namespace veltrane
