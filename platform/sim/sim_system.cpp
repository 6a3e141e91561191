// Process set-up, architecture, last-error, environment, clock and message
// boxes.
#include <cstring>
#include <ctime>

#include "platform/sim/sim_internal.h"

using namespace sim::detail;

namespace {

const int kEinval = 22, kErange = 34;
const DWORD kInvalidWindowHandle = 1400;

void FillInfo(SYSTEM_INFO* info, WORD arch) {
  std::memset(info, 0, sizeof *info);
  info->wProcessorArchitecture = arch;
  info->dwPageSize = 4096;
}

void NativeSystemInfo(SYSTEM_INFO* info) { FillInfo(info, St().nativeArch); }

}  // namespace

void OsRestrictDllSearch(void) { St().dllRestricted = true; }
void OsSetJapaneseCtype(void) { St().japanese = true; }
void OsInitCom(void) { St().com = true; }

DWORD OsGetLastError(void) { return St().lastError; }

OsSystemInfoFn OsFindNativeSystemInfo(void) {
  return St().hasNativeSystemInfo ? &NativeSystemInfo : nullptr;
}

void OsGetSystemInfo(SYSTEM_INFO* info) { FillInfo(info, St().processArch); }

int OsMessageBox(const char* text, const char* title, UINT style) {
  State& s = St();
  int result = s.nextAnswer < s.answers.size() ? s.answers[s.nextAnswer++] : 0;
  if (result == 0) s.lastError = kInvalidWindowHandle;
  s.boxes.push_back(sim::Box{text ? text : "", title ? title : "", style, result});
  return result;
}

// getenv_s as the Microsoft CRT has it: the buffer is emptied first, an unset
// variable is no error.
int OsGetEnv(char* buf, size_t size, const char* name) {
  if (!name || (buf == nullptr) != (size == 0)) return kEinval;
  if (buf) buf[0] = 0;
  auto it = St().env.find(Fold(name));
  if (it == St().env.end() || !buf) return 0;
  const std::string& value = it->second.value;
  if (value.size() + 1 > size) return kErange;
  std::memcpy(buf, value.c_str(), value.size() + 1);
  return 0;
}

int OsNow(long long* seconds, int* millis) {
  State& s = St();
  if (s.nowFails) return 0;
  *seconds = s.seconds;
  *millis = s.millis;
  long long total = s.millis + static_cast<long long>(s.stepMillis);
  s.seconds += total / 1000;
  s.millis = static_cast<int>(total % 1000);
  return 1;
}

int OsLocalTime(long long seconds, OsCalendar* out) {
  if (St().localTimeFails || !out) return 0;
  time_t t = static_cast<time_t>(seconds + St().utcOffset);
  struct tm tm;
  if (t < 0 || !gmtime_r(&t, &tm)) return 0;  // the CRT refuses times before 1970
  *out = OsCalendar{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
  return 1;
}

namespace sim {

void SetArchitecture(WORD nativeArch, WORD processArch, bool hasNativeSystemInfo) {
  State& s = St();
  s.nativeArch = nativeArch;
  s.processArch = processArch;
  s.hasNativeSystemInfo = hasNativeSystemInfo;
}

void SetLastError(DWORD code) { St().lastError = code; }

void SetEnv(const std::string& name, const std::string& value) {
  St().env[Fold(name)] = EnvVar{name, value};
}

void UnsetEnv(const std::string& name) { St().env.erase(Fold(name)); }

void SetClock(long long utcSeconds, int millis, int utcOffsetSeconds, int stepMillis) {
  State& s = St();
  s.seconds = utcSeconds;
  s.millis = millis;
  s.utcOffset = utcOffsetSeconds;
  s.stepMillis = stepMillis;
}

void SetClockFailure(bool nowFails, bool localTimeFails) {
  St().nowFails = nowFails;
  St().localTimeFails = localTimeFails;
}

void ScriptAnswers(const std::vector<int>& answers) {
  St().answers = answers;
  St().nextAnswer = 0;
}

const std::vector<Box>& Boxes() { return St().boxes; }

bool JapaneseLocaleSet() { return St().japanese; }
bool ComInitialised() { return St().com; }
bool DllSearchRestricted() { return St().dllRestricted; }

}  // namespace sim
