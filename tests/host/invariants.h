// Checks that hold after any run, whatever the machine held: used by the
// hostile-input suite.
#pragma once

#include <string>
#include <vector>

struct MachineSnapshot {
  std::vector<std::string> keys;   // physical registry key paths
  std::vector<std::string> files;  // file and folder paths
};

MachineSnapshot TakeSnapshot();

// Everything that went must be covered by a question answered Yes: a key by
// the key question naming it or an ancestor (provider keys by the question
// naming their parent), a file or folder by the question showing it or an
// ancestor (archives by the question naming their lib\ext folder).
void ExpectOnlyAnsweredDeletions(const MachineSnapshot& before);

// Every line ends in CR LF, is at most 1023 bytes, and is a 130-byte banner,
// a tagged operation line, or a follow-up line starting with one blank.
void ExpectWellFormedLog(const std::string& log);

// Every box has the fixed title, a known style and a text that fits its buffer.
void ExpectDialogsFit();
