// libFuzzer target: one whole run of the tool (WinMain) on a simulated
// machine built from the input (tests/fuzz/fuzz_machine.h), then every
// invariant of tests/fuzz/fuzz_checks.cpp. A broken invariant aborts with
// its message, so libFuzzer keeps the input as a crash.
#include <stdio.h>
#include <stdlib.h>

#include "tests/fuzz/fuzz_run.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::RunRecord run = fuzz::RunMachine(data, size);
  std::vector<std::string> failures = fuzz::CheckRun(run);
  if (failures.empty()) return 0;
  for (const std::string& failure : failures)
    fprintf(stderr, "invariant broken: %s\n", failure.c_str());
  abort();
}
