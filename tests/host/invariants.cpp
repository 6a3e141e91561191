#include "invariants.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "platform/sim/sim.h"
#include "platform/sim/sim_internal.h"
#include "ui/texts.h"

namespace {

std::string TrimSlashes(std::string s) {
  while (!s.empty() && s.back() == '\\') s.pop_back();
  return s;
}

// Names compared as the simulated machine compares them: ASCII letters
// folded, never the second byte of a two-byte character.
bool Covers(const std::string& parent, const std::string& path) {
  std::string p = sim::detail::Fold(TrimSlashes(parent)), q = sim::detail::Fold(TrimSlashes(path));
  if (p.empty()) return false;
  return q == p || (q.size() > p.size() && q.compare(0, p.size(), p) == 0 && q[p.size()] == '\\');
}

// The item a question shows: its third line.
std::string ItemOf(const std::string& text) {
  size_t first = text.find('\n');
  if (first == std::string::npos || first + 1 >= text.size()) return "";
  size_t start = first + 2;  // past the blank line
  size_t end = text.find('\n', start);
  return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

}  // namespace

MachineSnapshot TakeSnapshot() { return {sim::RegAllKeys(), sim::FsAll()}; }

void ExpectOnlyAnsweredDeletions(const MachineSnapshot& before) {
  std::vector<std::string> keyScopes, fileScopes;
  const std::string hklm = std::string(TAVO_QUESTION_ROOT) + "\\";
  for (const sim::Box& box : sim::Boxes()) {
    if (box.style != MB_YESNOCANCEL || box.result != IDYES) continue;
    std::string item = ItemOf(box.text);
    if (item.compare(0, hklm.size(), hklm) == 0) {
      keyScopes.push_back(item.substr(hklm.size()));
    } else {
      fileScopes.push_back(item);
    }
  }
  MachineSnapshot now = TakeSnapshot();
  auto expectCovered = [](const std::vector<std::string>& before, const std::vector<std::string>& after,
                          const std::vector<std::string>& scopes, const char* what) {
    const std::set<std::string> left(after.begin(), after.end());
    for (const std::string& path : before) {
      auto covers = [&](const std::string& scope) { return Covers(scope, path); };
      EXPECT_TRUE(left.count(path) || std::any_of(scopes.begin(), scopes.end(), covers))
          << what << " deleted without a Yes: " << path;
    }
  };
  expectCovered(before.keys, now.keys, keyScopes, "key");
  expectCovered(before.files, now.files, fileScopes, "file or folder");
}

void ExpectWellFormedLog(const std::string& log) {
  static const char* const kTags[] = {
      "[ConfirmDeleteItem] ", "[OpenRegKey] ", "[DeleteRegKey] ", "[GetRegValue] ",
      "[ExistsFolder] ",      "[ExistsFile] ", "[DeleteItem] ",   "[GetIs64BitOS] ",
      "[GetFolderPath] ",
  };
  size_t start = 0;
  while (start < log.size()) {
    size_t end = log.find("\r\n", start);
    ASSERT_NE(end, std::string::npos) << "last line without CR LF: " << log.substr(start);
    std::string line = log.substr(start, end - start);
    start = end + 2;
    EXPECT_LE(line.size() + 2, 1023u) << line;
    if (line.compare(0, 11, "********** ") == 0) {
      EXPECT_EQ(line.size(), 128u) << line;
      continue;
    }
    bool tagged = std::any_of(std::begin(kTags), std::end(kTags), [&](const char* tag) {
      return line.compare(0, strlen(tag), tag) == 0;
    });
    bool followUp = line.size() > 1 && line[0] == ' ' && line[1] != ' ';
    EXPECT_TRUE(tagged || followUp) << "line of unknown shape: " << line;
  }
}

void ExpectDialogsFit() {
  for (const sim::Box& box : sim::Boxes()) {
    EXPECT_EQ(box.title, TAVO_DIALOG_TITLE);
    EXPECT_TRUE(box.style == MB_OK || box.style == MB_OKCANCEL || box.style == MB_YESNOCANCEL);
    EXPECT_LT(box.text.size(), 2048u);
    if (box.style == MB_OKCANCEL && box.text.compare(0, 4, "処理") == 0) {
      EXPECT_EQ(box.text.size(), 61u);
    }
  }
}
