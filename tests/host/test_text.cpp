// The bounded text helpers every fixed buffer goes through: where a code page
// 932 text may be cut, what a full buffer holds, and that nothing is written
// past the size a helper is given.
#include <string>
#include <vector>

#include "sim_test.h"
#include "text/text.h"

namespace {

// A buffer with guard bytes after `size`: a helper that writes past the
// size it was given shows up as a changed guard, even inside one array.
struct Guarded {
  char bytes[96];
  explicit Guarded(size_t size) : size(size) { memset(bytes, 'Z', sizeof bytes); }
  size_t size;
  std::string Text() const { return std::string(bytes); }
  bool GuardsIntact() const {
    for (size_t i = size; i < sizeof bytes; ++i) {
      if (bytes[i] != 'Z') return false;
    }
    return true;
  }
};

struct CutCase {
  std::string name;
  std::string text;
  std::vector<size_t> cuts;  // cuts[max]: where the text may be cut within max bytes
};

std::string Hex(unsigned char c) {
  char s[8];
  snprintf(s, sizeof s, "0x%02X", c);
  return s;
}

std::vector<CutCase> CutCases() {
  std::vector<CutCase> cases;
  // A two-byte character between two ASCII bytes is kept whole or left out,
  // for every lead byte at the edges of both lead ranges and for trail bytes
  // that are also ASCII '\' and '|'.
  for (unsigned char lead : {0x81, 0x9F, 0xE0, 0xFC}) {
    for (unsigned char trail : {0x40, 0x5C, 0x7C, 0xFC}) {
      cases.push_back({"lead " + Hex(lead) + " trail " + Hex(trail),
                       std::string("a") + (char)lead + (char)trail + "b", {0, 1, 1, 3, 4, 4}});
    }
  }
  // The bytes just outside the lead ranges, and trail-only bytes, are
  // characters of their own: a cut may fall right after them.
  for (unsigned char single : {0x80, 0xA0, 0xA1, 0xDF, 0xFD, 0xFF, 0x5C, 0x7C, 0x40}) {
    cases.push_back({"single " + Hex(single), std::string("a") + (char)single + "\x81\x40" "b",
                     {0, 1, 2, 2, 4, 5, 5}});
  }
  // A trail byte in the lead range does not start a character itself.
  cases.push_back({"lead as trail", "\x81\x81\x81\x81" "c", {0, 0, 2, 2, 4, 5, 5}});
  // A lead byte right before the end has no trail byte and counts alone.
  cases.push_back({"lone lead at the end", "ab\xE0", {0, 1, 2, 3, 3}});
  // Literals are code page 932 here: both characters end in a backslash byte.
  cases.push_back({"Japanese text", "表ソ", {0, 0, 2, 2, 4, 4}});
  return cases;
}

TEST(TextTest, Cp932TextsAreCutBetweenCharactersAtEveryLength) {
  for (const CutCase& c : CutCases()) {
    for (size_t max = 0; max < c.cuts.size(); ++max) {
      SCOPED_TRACE(c.name + ", at most " + std::to_string(max) + " bytes");
      EXPECT_EQ(Cp932CutLength(c.text.c_str(), max), c.cuts[max]);
      // CopyText into max + 1 bytes: whole when it fits, else cut there.
      Guarded dst(max + 1);
      int whole = CopyText(dst.bytes, dst.size, c.text.c_str());
      EXPECT_EQ(whole, max >= c.text.size() ? 1 : 0);
      EXPECT_EQ(dst.Text(), c.text.substr(0, c.cuts[max]));
      EXPECT_TRUE(dst.GuardsIntact());
      // The same through CopyPrintable, which keeps these bytes as they are.
      Guarded printable(max + 1);
      EXPECT_EQ(CopyPrintable(printable.bytes, printable.size, c.text.c_str()), whole);
      EXPECT_EQ(printable.Text(), dst.Text());
      EXPECT_TRUE(printable.GuardsIntact());
    }
  }
}

TEST(TextTest, ControlCharactersBecomeQuestionMarksAndNothingElseChanges) {
  const struct {
    std::string in, out;
  } kCases[] = {
      {std::string("\x01\x09\x0A\x0D\x1B\x1F", 6), "?\t????"},
      {"\x20\x7E\x7F\x80", " ~?\x80"},
      {"\x81\x7E\xFC\xFC\xA1", "\x81\x7E\xFC\xFC\xA1"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.out);
    Guarded dst(c.in.size() + 1);
    EXPECT_EQ(CopyPrintable(dst.bytes, dst.size, c.in.c_str()), 1);
    EXPECT_EQ(dst.Text(), c.out);
    EXPECT_TRUE(dst.GuardsIntact());
  }
}

// Formatting into a buffer of exactly the text's length plus its NUL fits;
// one byte less cuts the last byte and says so; nothing is written past size.
TEST(TextTest, FormattingAtExactlyFullBuffers) {
  const std::string text = "0x000000B7 -5 ok";
  for (size_t size : {text.size() + 2, text.size() + 1, text.size(), (size_t)1}) {
    SCOPED_TRACE(size);
    Guarded dst(size);
    int whole = FormatText(dst.bytes, size, "0x%08X %ld %s", 0xB7u, -5L, "ok");
    EXPECT_EQ(whole, size > text.size() ? 1 : 0);
    EXPECT_EQ(dst.Text(), text.substr(0, size - 1));
    EXPECT_TRUE(dst.GuardsIntact());
  }
  Guarded empty(1);
  EXPECT_EQ(FormatText(empty.bytes, 1, "%s", ""), 1);
  EXPECT_EQ(empty.Text(), "");
  EXPECT_TRUE(empty.GuardsIntact());
  Guarded none(0);
  EXPECT_EQ(FormatText(none.bytes, 0, "%s", "x"), 0);
  EXPECT_EQ(CopyText(none.bytes, 0, "x"), 0);
  EXPECT_EQ(AppendText(none.bytes, 0, "%s", "x"), 0);
  EXPECT_TRUE(none.GuardsIntact());
}

TEST(TextTest, AppendingFillsTheRoomLeftAndNoMore) {
  const struct {
    const char* start;
    size_t size;
    const char* added;
    int whole;
    const char* result;
  } kCases[] = {
      {"C:\\Users", 16, "\\TAVO\\", 1, "C:\\Users\\TAVO\\"},   // 14 bytes and NUL, one spare
      {"C:\\Users", 15, "\\TAVO\\", 1, "C:\\Users\\TAVO\\"},   // exactly full
      {"C:\\Users", 14, "\\TAVO\\", 0, "C:\\Users\\TAVO"},     // one byte short
      {"C:\\Users", 9, "\\TAVO\\", 0, "C:\\Users"},            // no room at all
      {"C:\\Users", 9, "", 1, "C:\\Users"},                    // nothing to add fits
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.start) + " in " + std::to_string(c.size));
    Guarded dst(c.size);
    memcpy(dst.bytes, c.start, strlen(c.start) + 1);
    EXPECT_EQ(AppendText(dst.bytes, c.size, "%s", c.added), c.whole);
    EXPECT_EQ(dst.Text(), c.result);
    EXPECT_TRUE(dst.GuardsIntact());
  }
  // A buffer without a NUL within its size is ended, and nothing is added.
  Guarded full(4);
  memcpy(full.bytes, "abcd", 4);
  EXPECT_EQ(AppendText(full.bytes, 4, "%s", "e"), 0);
  EXPECT_EQ(full.Text(), "abc");
  EXPECT_TRUE(full.GuardsIntact());
  EXPECT_EQ(TextLength("abc", 2), 2u);
  EXPECT_EQ(TextLength("abc", 9), 3u);
}

}  // namespace
