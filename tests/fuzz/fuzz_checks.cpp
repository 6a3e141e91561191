// The invariants of a whole run, judged from the outside: the dialogs shown,
// the machine before and after, the calls the simulation recorded and the
// log. Nothing here asks the tool's own code how it decided.
#include <stdio.h>

#include <algorithm>
#include <set>

#include "registry/reg_key.h"
#include "tests/fuzz/fuzz_run.h"
#include "ui/texts.h"

namespace fuzz {
namespace {

// Built from the copies with code page 932 literals (cp932_literals.py); in
// UTF-8 the title would be 55 bytes.
static_assert(sizeof TAVO_DIALOG_TITLE == 40, "the dialog texts are not code page 932");

const char kHklm[] = TAVO_HKLM_NAME "\\";
const char* const kProviderNames[3] = {
    "TAVO Crypto Service Provider",
    "TAVO Crypto Service Provider for Sign",
    "TAVO Crypto Service Provider for Auth",
};
const char* const kLogTags[] = {
    "[ConfirmDeleteItem] ", "[OpenRegKey] ",   "[DeleteRegKey] ",
    "[GetRegValue] ",       "[ExistsFolder] ", "[ExistsFile] ",
    "[DeleteItem] ",        "[GetIs64BitOS] ", "[GetFolderPath] ",
};
const size_t kMaxLogLine = 1023;  // CR LF included
const size_t kMessageSize = 2048;

// A sentence left-justified in 60 bytes and ended, as every dialog starts.
std::string Padded(const char* sentence) {
  char line[256];
  snprintf(line, sizeof line, "%-60s\n", sentence);
  return line;
}

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Both are keys (FsKey or RegKey): whole parts compared, so "A\BC" is not
// below "A\B".
bool AtOrBelow(const std::string& key, const std::string& top) {
  if (top.empty()) return false;
  std::vector<std::string> k = SplitPath(key), t = SplitPath(top);
  if (k.size() < t.size()) return false;
  for (size_t i = 0; i < t.size(); ++i) {
    if (k[i] != t[i]) return false;
  }
  return true;
}

// The log shows the control characters but TAB, and DEL (0x7F), as '?'. A
// path blurred has all of these and '?' itself as DEL, so the path a
// [DeleteItem] line shows and the path that was asked compare equal blurred
// when the one is the other as the log shows it. Of these bytes a file name
// holds only DEL as a character of its own (no name holds a '?'); the others
// the simulated Windows takes only after a lead byte, as the second byte of a
// malformed two-byte character. So a logged '?' stands for these bytes and
// no other: "TAV?" names no "TAVO".
std::string Blurred(const std::string& path) {
  std::string out = path;
  for (char& c : out) {
    unsigned char byte = (unsigned char)c;
    if ((byte < 0x20 && byte != '\t') || byte == 0x7F || byte == '?') c = '\x7f';
  }
  return out;
}

// What the Yes answers allowed to be removed.
struct Allowed {
  std::vector<std::string> keyTrees;   // RegKey: the key and all below it
  std::vector<std::string> fsTrees;    // FsKey: the entry and all below it
  std::vector<std::string> fsEntries;  // FsKey: that entry alone (archives)

  bool Key(const std::string& path) const {
    for (const std::string& top : keyTrees) {
      if (AtOrBelow(RegKey(path), top)) return true;
    }
    return false;
  }
  // `logged`: the key is made of a path as the log shows it, compared blurred.
  bool Fs(const std::string& key, bool logged = false) const {
    auto seen = [logged](const std::string& k) { return logged ? Blurred(k) : k; };
    for (const std::string& top : fsTrees) {
      if (AtOrBelow(seen(key), seen(top))) return true;
    }
    for (const std::string& entry : fsEntries) {
      if (seen(key) == seen(entry)) return true;
    }
    return false;
  }
};

class Checker {
 public:
  explicit Checker(const RunRecord& run) : run_(run) {}

  std::vector<std::string> Run() {
    if (run_.returned != 0) Fail("WinMain returned " + std::to_string(run_.returned));
    Handles();
    Dialogs();
    Registry();
    FileSystem();
    Log();
    return failures_;
  }

 private:
  void Fail(const std::string& what) { failures_.push_back(what); }

  void Handles() {
    if (run_.regOpenHandles)
      Fail(std::to_string(run_.regOpenHandles) + " registry handles left open");
    if (run_.regBadCloses) Fail(std::to_string(run_.regBadCloses) + " bad RegCloseKey calls");
    if (run_.shellAlive) Fail(std::to_string(run_.shellAlive) + " shell objects not released");
    if (run_.shellBadReleases)
      Fail(std::to_string(run_.shellBadReleases) + " shell objects released twice");
    if (run_.openFiles) Fail(std::to_string(run_.openFiles) + " files left open");
  }

  // --- dialogs -----------------------------------------------------------------

  void Dialogs() {
    const std::vector<sim::Box>& boxes = run_.boxes;
    for (const sim::Box& box : boxes) {
      if (box.title != TAVO_DIALOG_TITLE) Fail("dialog title \"" + box.title + "\"");
    }
    if (boxes.empty()) return Fail("no start dialog");
    const std::string start = Padded(TAVO_START_SENTENCE) + TAVO_START_QUESTION + "\n";
    if (boxes[0].text != start || boxes[0].style != MB_OKCANCEL)
      Fail("first dialog is not the start dialog");
    started_ = boxes[0].result == IDOK;
    if (!started_) {
      if (boxes.size() > 1) Fail("dialogs after the start dialog was not answered OK");
      return;
    }

    const std::string abortText = Padded(TAVO_ASK_ABORT);
    const std::string endText = Padded(TAVO_END_SENTENCE);
    bool ended = false;
    std::string repeat;  // a question that must come again
    size_t i = 1;
    while (i < boxes.size() && !ended) {
      const sim::Box& box = boxes[i];
      if (!repeat.empty() && box.text != repeat)
        return Fail("question not asked again after going back");
      repeat.clear();
      if (box.style == MB_OK) {
        if (box.text != endText) Fail("MB_OK dialog is not the closing dialog");
        if (i + 1 != boxes.size()) Fail("dialogs after the closing dialog");
        return;
      }
      if (box.style != MB_YESNOCANCEL)
        return Fail("unexpected dialog style " + std::to_string(box.style));
      Question(box);
      ++i;
      if (box.result == IDYES || box.result == IDNO) continue;

      if (i == boxes.size())
        return Fail("question left neither Yes nor No without the abort question");
      const sim::Box& confirm = boxes[i++];
      if (confirm.style != MB_OKCANCEL || confirm.text != abortText || confirm.text.size() != 61) {
        return Fail("no abort confirmation after an answer that was neither Yes nor No");
      }
      // OK ends the run; so do two boxes that could not be shown at all.
      ended = confirm.result == IDOK || (box.result == 0 && confirm.result == 0);
      if (!ended) repeat = box.text;
    }
    if (ended && i != boxes.size()) Fail("dialogs after the run was ended");
    if (!ended) Fail("the run neither ended at a question nor showed the closing dialog");
  }

  // Parses one question; its Yes answer allows what it names to go.
  void Question(const sim::Box& box) {
    const std::string& text = box.text;
    bool yes = box.result == IDYES;
    if (text.size() >= kMessageSize)
      Fail("question text of " + std::to_string(text.size()) + " bytes");
    auto body = [&](const char* sentence, std::string* rest) {
      std::string head = Padded(sentence) + "\n";
      if (!StartsWith(text, head) || !EndsWith(text, "\n")) return false;
      *rest = text.substr(head.size(), text.size() - head.size() - 1);
      return true;
    };
    std::string shown;
    if (body(TAVO_ASK_FOLDER, &shown) || body(TAVO_ASK_FILE, &shown)) {
      if (yes) allowed_.fsTrees.push_back(FsKey(shown, run_.planted.cwd));
    } else if (body(TAVO_ASK_ARCHIVES, &shown)) {
      if (!EndsWith(shown, "\\lib\\ext"))
        return Fail("archive question names no lib\\ext: " + shown);
      std::string folder = FsKey(shown, run_.planted.cwd);
      for (const char* name : kArchives) {
        if (yes && !folder.empty()) allowed_.fsEntries.push_back(folder + "\\" + RegKey(name));
      }
    } else if (body(TAVO_ASK_PROVIDERS, &shown)) {
      const std::string tail = "\\Microsoft\\Cryptography\\Defaults\\Provider";
      std::string branch = shown.substr(0, shown.size() - std::min(shown.size(), tail.size()));
      if (!StartsWith(shown, kHklm) || !EndsWith(shown, tail) ||
          (branch != kHklm + std::string("SOFTWARE") &&
           branch != kHklm + std::string("SOFTWARE\\Wow6432Node"))) {
        return Fail("provider question names " + shown);
      }
      for (const char* name : kProviderNames) {
        if (yes) AllowKey(shown.substr(sizeof kHklm - 1) + "\\" + name);
      }
    } else if (StartsWith(text, Padded(TAVO_ASK_KEY) + "\n" + kHklm)) {
      KeyQuestion(text, yes);
    } else {
      Fail("question of unknown layout: " + text);
    }
  }

  void KeyQuestion(const std::string& text, bool yes) {
    std::string head = Padded(TAVO_ASK_KEY) + "\n" + kHklm;
    size_t end = text.find('\n', head.size());
    if (end == std::string::npos) return Fail("key question without its record");
    std::string key = text.substr(head.size(), end - head.size());
    if (yes) AllowKey(key);

    // A blank line, then the record's fields, each within its fixed width
    // (NUL included): name 32, version 16, path 260, and for the Uninstall
    // entry the date 16.
    static const char* const kLabels[4] = {TAVO_LABEL_NAME, TAVO_LABEL_VERSION, TAVO_LABEL_PATH,
                                           TAVO_LABEL_DATE};
    static const size_t kWidths[4] = {32, 16, 260, 16};
    size_t count = EndsWith(key, kGuid) ? 4 : 3;
    std::string record = text.substr(end + 1);
    size_t at = 0;
    for (size_t i = 0; i < count; ++i) {
      std::string label = std::string("\n") + kLabels[i];
      if (record.compare(at, label.size(), label) != 0)
        return Fail("key question's record is malformed: " + text);
      at += label.size();
      size_t stop =
          i + 1 < count ? record.find(std::string("\n") + kLabels[i + 1], at) : record.size() - 1;
      if (stop == std::string::npos || stop < at || stop - at >= kWidths[i]) {
        return Fail("key question's record is malformed: " + text);
      }
      at = stop;
    }
    if (record.empty() || record.back() != '\n')
      Fail("key question's record is malformed: " + text);
  }

  void AllowKey(const std::string& shown) {
    allowed_.keyTrees.push_back(RegKey(shown));
    // Only x64 counts as 64-bit to the tool. On other Windows with two views
    // (ARM64) its 32-bit process works in the 32-bit view, where the names
    // it shows are the keys below Wow6432Node.
    const std::string software = "SOFTWARE\\";
    if (run_.planted.wowBranch && !run_.planted.nativeAmd64 &&
        StartsWith(RegKey(shown), software) &&
        !StartsWith(RegKey(shown), "SOFTWARE\\WOW6432NODE")) {
      allowed_.keyTrees.push_back("SOFTWARE\\WOW6432NODE\\" +
                                  RegKey(shown).substr(software.size()));
    }
  }

  // --- machine -----------------------------------------------------------------

  void Registry() {
    std::set<std::string> before, after;
    for (const std::string& k : run_.keysBefore) before.insert(RegKey(k));
    for (const std::string& k : run_.keysAfter) {
      after.insert(RegKey(k));
      if (!before.count(RegKey(k))) Fail("registry key created: " + k);
    }
    for (const std::string& k : run_.keysBefore) {
      if (!after.count(RegKey(k)) && !allowed_.Key(k)) Fail("registry key removed unasked: " + k);
    }
    for (const sim::RegCall& call : run_.regCalls) {
      if (call.op == "delete" && !allowed_.Key(call.path))
        Fail("RegDeleteKeyEx unasked on " + call.path);
    }
  }

  void FileSystem() {
    for (const auto& entry : run_.fsBefore) {
      auto now = run_.fsAfter.find(entry.first);
      if (now == run_.fsAfter.end()) {
        if (!allowed_.Fs(entry.first)) Fail("removed unasked: " + entry.first);
      } else if (now->second.folder != entry.second.folder) {
        Fail("file became folder or folder file: " + entry.first);
      } else if (now->second.content != entry.second.content && entry.first != run_.logKey) {
        Fail("file changed: " + entry.first);
      }
    }
    for (const auto& entry : run_.fsAfter) {
      if (!run_.fsBefore.count(entry.first) && entry.first != run_.logKey)
        Fail("created: " + entry.first);
    }
    for (const sim::ShellOp& op : run_.shellOps) {
      if (!allowed_.Fs(FsKey(op.path, run_.planted.cwd)))
        Fail("shell deletion unasked of " + op.path);
    }
  }

  // --- log -----------------------------------------------------------------------

  void Log() {
    auto before = run_.fsBefore.find(run_.logKey);
    auto after = run_.fsAfter.find(run_.logKey);
    // The first line of a run comes before any question, so a log that is
    // gone afterwards was written and then removed with a folder the user
    // let go; the removal itself is judged with the file system.
    bool expected = started_ && run_.logWritable;
    if (after == run_.fsAfter.end()) {
      if (expected && !allowed_.Fs(run_.logKey))
        Fail("nothing logged though the log could be written");
      return;
    }
    if (after->second.folder) return;
    std::string old = before == run_.fsBefore.end() ? "" : before->second.content;
    const std::string& now = after->second.content;
    // A log the user let go may have been made again by the lines after it.
    bool remade = allowed_.Fs(run_.logKey);
    if (!StartsWith(now, old) && !remade) return Fail("log rewritten, not appended to");
    std::string added = StartsWith(now, old) ? now.substr(old.size()) : now;
    if (added.empty() == expected && !remade) {
      Fail(expected ? "nothing logged though the log could be written"
                    : "log written though the run was not started or the file was not writable");
    }
    if (!added.empty() && !EndsWith(added, "\r\n")) Fail("log does not end with CR LF");
    size_t at = 0;
    while (at < added.size()) {
      size_t end = added.find("\r\n", at);
      if (end == std::string::npos) end = added.size();
      LogLine(added.substr(at, end - at));
      at = end + 2;
    }
  }

  void LogLine(const std::string& line) {
    if (line.size() + 2 > kMaxLogLine)
      return Fail("log line of " + std::to_string(line.size() + 2) + " bytes");
    if (line.find_first_of("\r\n") != std::string::npos) {
      return Fail("log line with a lone CR or LF: " + line);
    }
    if (line.size() == 128 && StartsWith(line, "********** ") && line[127] == '*') return;
    // The log reports no removal that no Yes allowed. A key name cut to fit
    // ends in "..." and names no key whole.
    const std::string item = "[DeleteItem] ", key = std::string("[DeleteRegKey] ") + kHklm;
    if (StartsWith(line, item) &&
        !allowed_.Fs(FsKey(Blurred(line.substr(item.size())), run_.planted.cwd), true)) {
      Fail("log reports a removal not asked for: " + line);
    }
    if (StartsWith(line, key) && !EndsWith(line, "...") && !allowed_.Key(line.substr(key.size()))) {
      Fail("log reports a removal not asked for: " + line);
    }
    for (const char* tag : kLogTags) {
      if (StartsWith(line, tag)) return;
    }
    if (line == " Not Found") return;
    // " ERROR..." or " <call> ERROR ..."
    size_t error = line.find("ERROR");
    if (StartsWith(line, " ") && error != std::string::npos) {
      std::string call = line.substr(1, error - 1);
      bool word = call.empty() || call.back() == ' ';
      for (size_t i = 0; word && i + 1 < call.size(); ++i) {
        char c = call[i];
        word = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == ':';
      }
      if (word) return;
    }
    Fail("log line of unknown shape: " + line);
  }

  const RunRecord& run_;
  std::vector<std::string> failures_;
  Allowed allowed_;
  bool started_ = false;
};

}  // namespace

std::vector<std::string> CheckRun(const RunRecord& run) { return Checker(run).Run(); }

}  // namespace fuzz
