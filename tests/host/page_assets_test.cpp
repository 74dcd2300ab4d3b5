// The built-in asset table of this build against the page files it was made from: the
// seven names in the page's order, their content types, and every byte.
//   page_assets_test PAGE_DIR
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "assets.h"

namespace {

std::string page_dir;

TEST(PageAssets, TheTableHoldsTheSevenFilesByteForByte) {
  ASSERT_EQ(msw_asset_count, 7);
  const char *names[] = {"index.html", "style.css", "config.js", "protocol.js", "vault.js", "gifs.js", "app.js"};
  for (int i = 0; i < 7; i++) {
    const asset &row = msw_assets[i];
    EXPECT_STREQ(row.name, names[i]);
    std::string expected_type = i == 0 ? "text/html; charset=utf-8"
                                : i == 1 ? "text/css; charset=utf-8"
                                         : "text/javascript; charset=utf-8";
    EXPECT_EQ(row.content_type, expected_type) << row.name;
    std::ifstream in(page_dir + "/" + names[i], std::ios::binary);
    ASSERT_TRUE(in) << names[i];
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_GT(bytes.size(), 0u) << names[i];
    ASSERT_EQ(row.length, bytes.size()) << names[i];
    EXPECT_TRUE(bytes == std::string((const char *)row.bytes, row.length)) << names[i];
  }
}

}  // namespace

int main(int argc, char **argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc > 1) page_dir = argv[1];
  return RUN_ALL_TESTS();
}
