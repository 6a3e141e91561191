// The simulated machine's state, its text helpers and Reset().
#include <cstdio>
#include <cstdlib>

#include "platform/sim/sim_internal.h"

namespace sim {
namespace detail {

State& St() {
  static State state;
  static bool ready = false;
  if (!ready) {  // a test that forgets Reset() still gets the fresh machine
    ready = true;
    Reset();
  }
  return state;
}

bool IsLead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

std::string Fold(const std::string& s) {
  std::string out = s;
  for (size_t i = 0; i < out.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(out[i]);
    if (IsLead(c)) {
      ++i;  // the trail byte keeps its value
    } else if (c >= 'a' && c <= 'z') {
      out[i] = static_cast<char>(c - 'a' + 'A');
    }
  }
  return out;
}

std::vector<std::string> Split(const std::string& s) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < s.size(); ++i) {
    if (IsLead(static_cast<unsigned char>(s[i])) && i + 1 < s.size()) {
      parts.back() += s.substr(i, 2);
      ++i;
    } else if (s[i] == '\\') {
      parts.emplace_back();
    } else {
      parts.back() += s[i];
    }
  }
  return parts;
}

std::string Join(const std::vector<std::string>& parts, size_t count) {
  std::string out;
  for (size_t i = 0; i < count && i < parts.size(); ++i) out += (i ? "\\" : "") + parts[i];
  return out;
}

void Die(const std::string& what) {
  std::fprintf(stderr, "simulated Windows: %s\n", what.c_str());
  std::abort();
}

}  // namespace detail

void Reset() {
  detail::St() = detail::State();
  detail::State& s = detail::St();
  s.nativeArch = PROCESSOR_ARCHITECTURE_AMD64;
  s.processArch = PROCESSOR_ARCHITECTURE_INTEL;
  s.hasNativeSystemInfo = true;
  s.nextKeyId = 1;
  s.nextHandle = 0x1000;

  // What a 32-bit process sees on 64-bit Windows.
  FsAddFolder("C:\\Users\\user");
  FsAddFolder("C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp");
  FsAddFolder("C:\\Program Files");
  FsAddFolder("C:\\Program Files (x86)");
  FsAddFolder("C:\\work");
  SetCurrentDirectory("C:\\work");
  SetSpecialFolder(CSIDL_PROFILE, "C:\\Users\\user");
  SetSpecialFolder(CSIDL_COMMON_PROGRAMS, "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs");
  SetSpecialFolder(CSIDL_COMMON_STARTUP,
                   "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp");
  SetEnv("ProgramFiles", "C:\\Program Files (x86)");
  SetEnv("ProgramW6432", "C:\\Program Files");
  SetEnv("ProgramFiles(x86)", "C:\\Program Files (x86)");
  SetClock(1796710190LL, 123, 9 * 3600);  // 2026-12-08 06:09:50.123 UTC
}

}  // namespace sim
