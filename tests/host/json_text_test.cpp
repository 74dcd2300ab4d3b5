#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "json_text.h"

namespace {

// Wraps a routine's allocated result so a test compares bytes and never leaks.
struct owned {
  char *p;
  explicit owned(char *q) : p(q) {}
  ~owned() { free(p); }
  bool null() const { return p == nullptr; }
  std::string str() const { return p ? std::string(p) : std::string("<null>"); }
};

std::string arg(const char *args, int index) { return owned(json_arg(args, index)).str(); }

std::string member(const std::string &object, const char *key) {
  return owned(json_member(object.c_str(), key)).str();
}

std::string unescape(const std::string &body) {
  return owned(json_unescape(body.data(), body.data() + body.size())).str();
}

std::string quote(const std::string &bytes) {
  return owned(json_quote(bytes.data(), bytes.size())).str();
}

TEST(JsonArg, RefusesWhatIsNotAnArrayOrPastItsEnd) {
  EXPECT_EQ(arg("[]", 0), "<null>");
  EXPECT_EQ(arg("  [ ]  ", 0), "<null>");
  EXPECT_EQ(arg("{\"a\":1}", 0), "<null>");
  EXPECT_EQ(arg("", 0), "<null>");
  EXPECT_EQ(arg("\"x\"", 0), "<null>");
  EXPECT_EQ(arg("[1]", 1), "<null>");
  EXPECT_EQ(arg("[1]", -1), "<null>");
  EXPECT_TRUE(owned(json_arg(nullptr, 0)).null());
}

TEST(JsonArg, FindsStringsAndRawElementsByIndex) {
  const char *args = "  [\"a\",2]";
  EXPECT_EQ(arg(args, 0), "a");
  EXPECT_EQ(arg(args, 1), "2");
  EXPECT_EQ(arg(args, 2), "<null>");
  EXPECT_EQ(arg("[true]", 0), "true");
  EXPECT_EQ(arg("[null]", 0), "null");
  EXPECT_EQ(arg("[\"KeyB\",false]", 1), "false");
  EXPECT_EQ(arg("[\"\"]", 0), "");
}

TEST(JsonArg, NestedElementsComeBackWholeAndTheNextIsStillFound) {
  const char *args = "[{\"k\":[1,\"],}\"],\"o\":{}},\"after\"]";
  EXPECT_EQ(arg(args, 0), "{\"k\":[1,\"],}\"],\"o\":{}}");
  EXPECT_EQ(arg(args, 1), "after");
  EXPECT_EQ(arg("[[1,[2]],3]", 0), "[1,[2]]");
  EXPECT_EQ(arg("[[1,[2]],3]", 1), "3");
}

TEST(JsonArg, UnterminatedStringsGiveNoResult) {
  EXPECT_EQ(arg("[\"abc", 0), "<null>");
  EXPECT_EQ(arg("[\"abc\\\"]", 0), "<null>");  // the escaped quote does not close it
  EXPECT_EQ(arg("[1,\"abc", 0), "1");          // an element before the fault is still read
  EXPECT_EQ(arg("[1,\"abc", 1), "<null>");
  EXPECT_EQ(arg("[{\"a", 0), "<null>");        // a nested string that never ends
  EXPECT_EQ(arg("[\"a\\", 0), "<null>");       // backslash right before the end
}

TEST(JsonArg, TrailingWhiteSpaceIsCutFromRawElements) {
  EXPECT_EQ(arg("[12  \n]", 0), "12");
  EXPECT_EQ(arg("[ 1 \t, \r\n true \n ]", 1), "true");
  EXPECT_EQ(arg("[1", 0), "1");  // the end of the text also ends an element
}

TEST(JsonArg, StringElementsAreUnescaped) {
  EXPECT_EQ(arg("[\"a\\\"b\\\\c\\/d\\n\"]", 0), "a\"b\\c/d\n");
  EXPECT_EQ(arg("[\"x\",\"\\u00e9\"]", 1), "\xC3\xA9");
}

TEST(JsonUnescape, ShortEscapesAndPlainBytes) {
  EXPECT_EQ(unescape("\\b\\f\\n\\r\\t"), "\b\f\n\r\t");
  EXPECT_EQ(unescape("\\\"\\\\\\/\\q"), "\"\\/q");
  EXPECT_EQ(unescape("caf\xC3\xA9"), "caf\xC3\xA9");
  EXPECT_EQ(unescape(""), "");
}

TEST(JsonUnescape, UnicodeEscapes) {
  EXPECT_EQ(unescape("\\u00e9"), "\xC3\xA9");
  EXPECT_EQ(unescape("\\u00E9"), "\xC3\xA9");
  EXPECT_EQ(unescape("\\u0041"), "A");
  EXPECT_EQ(unescape("\\u20ac"), "\xE2\x82\xAC");
  EXPECT_EQ(unescape("\\ud83d\\ude00"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(unescape("\\uD83D\\uDE00!"), "\xF0\x9F\x98\x80!");
}

TEST(JsonUnescape, BrokenUnicodeEscapes) {
  EXPECT_EQ(unescape("\\ud83dx"), "\xED\xA0\xBDx");                 // lone high surrogate
  EXPECT_EQ(unescape("\\ude00"), "\xED\xB8\x80");                   // lone low surrogate
  EXPECT_EQ(unescape("\\ud83d\\u0041"), "\xED\xA0\xBD" "A");        // pair partner not low
  EXPECT_EQ(unescape("\\ud83d\\ud83d\\ude00"), "\xED\xA0\xBD\xF0\x9F\x98\x80");
  EXPECT_EQ(unescape("\\u12g4z"), "\xEF\xBF\xBDz");                 // not hex: U+FFFD, 6 bytes eaten
  EXPECT_EQ(unescape("ab\\u12"), "ab");                             // cut-off escape ends the text
  EXPECT_EQ(unescape("ab\\"), "ab");
  EXPECT_EQ(unescape("\\ud83d\\ude"), "\xED\xA0\xBD");              // partner cut off
}

TEST(JsonUnescape, CodePointZeroEndsTheText) {
  std::string body = "ab\\u0000cd";
  owned out(json_unescape(body.data(), body.data() + body.size()));
  ASSERT_FALSE(out.null());
  EXPECT_STREQ(out.p, "ab");
  EXPECT_EQ(out.p[3], 'c');  // the rest is still written after the zero byte
}

TEST(JsonUnescape, OnlyDecodesWithinTheGivenRange) {
  const char text[] = "abc\\n\"tail";
  owned out(json_unescape(text, text + 5));
  EXPECT_STREQ(out.p, "abc\n");
}

TEST(JsonQuote, EscapesQuotesBackslashesAndControlBytes) {
  EXPECT_EQ(quote(std::string("a\"\\\n\xC3\xA9")), "\"a\\\"\\\\\\u000a\xC3\xA9\"");
  EXPECT_EQ(quote(std::string("\x01\x1f\x7f", 3)), "\"\\u0001\\u001f\x7f\"");
  EXPECT_EQ(quote(std::string("\0x", 2)), "\"\\u0000x\"");
  EXPECT_EQ(quote(""), "\"\"");
  EXPECT_EQ(quote("\xFF\xFE"), "\"\xFF\xFE\"");
}

TEST(JsonQuote, RoundTripsThroughArgForEveryByte) {
  std::string all;
  for (int c = 1; c < 256; c++) all.push_back((char)c);
  std::string args = "[" + quote(all) + "]";
  EXPECT_EQ(arg(args.c_str(), 0), all);
}

TEST(JsonQuote, RefusesLengthsThatCannotBeAllocated) {
  EXPECT_TRUE(owned(json_quote("x", (size_t)-1)).null());
  EXPECT_TRUE(owned(json_quote(nullptr, 3)).null());
}

// The bridge reads a call message, the page's JSON.stringify of {id, method, params}.
TEST(JsonMember, ReadsTheCompactTextOfJsonStringify) {
  std::string m = "{\"id\":\"0123abcd\",\"method\":\"msw_title\",\"params\":[\"x\",{\"a\":[1,\"]}\"]},true]}";
  EXPECT_EQ(member(m, "id"), "0123abcd");
  EXPECT_EQ(member(m, "method"), "msw_title");
  EXPECT_EQ(member(m, "params"), "[\"x\",{\"a\":[1,\"]}\"]},true]");
  EXPECT_EQ(member(m, "missing"), "<null>");
  EXPECT_EQ(member("{\"params\":[]}", "params"), "[]");
  EXPECT_EQ(member(" { \"n\" : 12 , \"m\" : \"v\" } ", "n"), "12");
  EXPECT_EQ(member(" { \"n\" : 12 , \"m\" : \"v\" } ", "m"), "v");
  EXPECT_EQ(member("{\"a\":1,\"a\":2}", "a"), "1");  // the first of two
}

TEST(JsonMember, StringsAreUnescapedAndBrokenObjectsGiveNothing) {
  EXPECT_EQ(member("{\"m\":\"a\\\"b\\\\c\\/d\\n\\t\"}", "m"), "a\"b\\c/d\n\t");
  EXPECT_EQ(member("{\"m\":\"a\\u0041\"}", "m"), "aA");
  EXPECT_EQ(member("{\"\\u006d\":\"escaped name\"}", "m"), "escaped name");
  EXPECT_EQ(member("{\"m\":\"open", "m"), "<null>");
  EXPECT_EQ(member("[\"m\"]", "m"), "<null>");
  EXPECT_EQ(member("", "m"), "<null>");
  EXPECT_EQ(member("{\"x\" 1, \"m\":2}", "m"), "<null>");  // unreadable before it
  EXPECT_EQ(member("{\"x\":\"\\u0041\",\"m\":\"ok\"}", "m"), "ok");
  EXPECT_EQ(member("{\"x\":[1,{\"m\":3}],\"m\":4}", "m"), "4");  // only the top level counts
}

TEST(JsonValid, AcceptsExactlyOneValue) {
  for (const char *good : {"null", "true", "false", "0", "-0.5e+3", "12", "\"\"", "\"a\\u00e9\\n\"", "[]", "{}",
                           " [1, \"x\", {\"a\": [null]}] ", "{\"secret\":\"AA==\",\"created\":true}",
                           "\"\xf0\x9f\x98\x80\""})
    EXPECT_TRUE(json_valid(good)) << good;
  for (const char *bad : {"", " ", "{bad", "[1,]", "[1 2]", "01", "1.", ".5", "-", "+1", "tru", "nul", "\"open",
                          "\"a\nb\"", "\"\\x\"", "\"\\u12\"", "{\"a\"}", "{1:2}", "[1]]", "1 2", "undefined",
                          "1); alert(1); (1"})
    EXPECT_FALSE(json_valid(bad)) << bad;
  EXPECT_TRUE(json_valid(std::string(256, '[') + std::string(256, ']')));
  EXPECT_FALSE(json_valid(std::string(300, '[') + std::string(300, ']')));
}

// Decoding over the arguments' own buffer: escapes of every width, in both directions of
// the text's length, and the element after others, give what json_arg gives.
TEST(JsonArgInPlace, GivesWhatJsonArgGivesInTheSameBuffer) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"[\"a\\\"b\\\\c\\n\"]", 0},
      {"[\"\\u00e9\\ud83d\\ude00\\u20ac x\\ud800 y\\uZZZZ\"]", 0},
      {"[1, {\"k\":[\"],\"]} , \"last\\/\"]", 2},
      {"[1, {\"k\":[\"],\"]} , \"last\"]", 1},
      {"[ true  ]", 0},
      {"[\"\"]", 0},
  };
  for (const auto &c : cases) {
    std::string args = c.first;
    const char *before = args.data();
    ASSERT_TRUE(json_arg_in_place(&args, c.second)) << c.first;
    EXPECT_EQ(args, arg(c.first.c_str(), c.second)) << c.first;
    EXPECT_EQ(args.data(), before) << "no new buffer for " << c.first;
  }
  std::string big = "[\"" + std::string(3 << 20, 'A') + "\\u0041\"]";
  ASSERT_TRUE(json_arg_in_place(&big, 0));
  EXPECT_EQ(big, std::string((3 << 20) + 1, 'A'));
}

TEST(JsonArgInPlace, LeavesTheTextAloneWhenThereIsNoSuchElement) {
  for (const char *text : {"[]", "[1]", "[\"open", "{\"a\":1}", ""}) {
    std::string args = text;
    EXPECT_FALSE(json_arg_in_place(&args, 1)) << text;
    EXPECT_EQ(args, text);
  }
  EXPECT_FALSE(json_arg_in_place(nullptr, 0));
}

// A member's span is the raw text of its value, found as json_member finds it.
TEST(JsonMemberSpan, PointsAtTheRawValueInsideTheText) {
  std::string message = "{\"id\":\"0a\",\"me\\u0074hod\":\"m\", \"params\" : [\"x\",{\"y\":\"}\"}]  }";
  auto span = [&](const char *key) {
    const char *b = nullptr, *e = nullptr;
    if (!json_member_span(message.c_str(), key, &b, &e)) return std::string("<none>");
    EXPECT_TRUE(b >= message.data() && e <= message.data() + message.size());
    return std::string(b, e);
  };
  EXPECT_EQ(span("id"), "\"0a\"");
  EXPECT_EQ(span("method"), "\"m\"");  // a name written with an escape is still found
  EXPECT_EQ(span("params"), "[\"x\",{\"y\":\"}\"}]");
  EXPECT_EQ(span("nothing"), "<none>");
  message = "{\"id\":\"unterminated";
  EXPECT_EQ(span("params"), "<none>");
}

}  // namespace
