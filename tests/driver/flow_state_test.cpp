#include "driver/flow_state.h"

#include <gtest/gtest.h>

TEST(ServerAddressList, SortedStableAndWithoutAdjacentDuplicates) {
  struct Case {
    std::vector<std::string> in;
    std::vector<std::string> out;
  } cases[] = {
      // Name and flat name equal: tried once.
      {{"srv", "srv", "10.0.0.5", ""}, {"", "10.0.0.5", "srv"}},
      // Byte-wise and case-sensitive: upper case sorts before lower case.
      {{"beta", "Alpha", "alpha", "10.1.1.1"}, {"10.1.1.1", "Alpha", "alpha", "beta"}},
      {{"", "", "", ""}, {""}},
      {{"b", "a", "b", "a"}, {"a", "b"}},
  };
  for (const Case& c : cases) EXPECT_EQ(BuildServerAddressList(c.in), c.out);
}
