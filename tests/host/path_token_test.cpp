#include <gtest/gtest.h>

#include <set>
#include <string>

#include "app/host/path_token.h"

TEST(PathToken, ThirtyTwoLowerCaseHexCharactersFreshEachTime) {
  std::set<std::string> seen;
  for (int i = 0; i < 200; i++) {
    char token[33];
    token[32] = 'x';
    ASSERT_EQ(make_path_token(token), 0);
    std::string t(token);
    ASSERT_EQ(t.size(), 32u);
    EXPECT_EQ(t.find_first_not_of("0123456789abcdef"), std::string::npos) << t;
    EXPECT_TRUE(seen.insert(t).second) << "token repeated: " << t;
  }
}
