// Turns fuzzer input into a simulated machine: what is planted, which calls
// fail, and the answers given to the dialogs.
//
// Input layout (tests/fuzz/make_seeds.py writes the same):
//
//   byte 0   machine
//            bits 0-1 native architecture: 0 AMD64, 1 x86, 2 ARM64, 3 IA64
//            bit 2    no GetNativeSystemInfo (x86 only: older Windows lack it)
//            bit 3    64-bit process (AMD64 only)
//            bit 4    the profile has a TAVO folder, so the log goes there
//            bit 5    _ftime64_s fails          bit 6  _localtime64_s fails
//            bit 7    the clock moves 7 ms per read
//   then operations until the input ends: an opcode byte (modulo kOpCount)
//   and its operands. Reading past the end gives zeros and empty texts.
//
//   text     length byte L; below 0xE0, L bytes follow. From 0xE0 on the
//            text is made: kMadeLengths[L - 0xE0] bytes of a pattern given
//            as a count byte (modulo 17) and that many bytes ("A" when none).
//   regref   bit 0 the Wow6432Node branch; bits 1-3 the base key (kRegBases);
//            bit 4 its parent instead. A subpath adds at most 8 keys; at
//            most 200 keys of at most 1024 bytes are planted.
//   place    bits 0-2 the base folder (kPlaces; 7 = the last value text
//            planted, the path the registry names)
//
//   op  0 key      regref, text subpath
//   op  1 value    regref, text subpath, name byte (bits 0-3: below 12 an
//                  entry of kValueNames, else a text follows with the name),
//                  type byte (bits 0-2 kValueTypes, bit 3 a NUL appended),
//                  text data
//   op  2 tree     regref, text subpath, shape byte (depth 1 + bits 0-1
//                  modulo 3, width 1 + bits 2-3 modulo 3), seed byte: a
//                  tree of subkeys
//   op  3 folder   place, text subpath
//   op  4 file     place, text subpath
//   op  5 env      which byte (0 ProgramW6432, 1 ProgramFiles,
//                  2 ProgramFiles(x86); bit 7 unset), text value
//   op  6 special  which byte (0 profile, 1 common programs, 2 common
//                  startup; bit 7 also make the folder), text path ("" none)
//   op  7 regfail  kind byte (open, enum, delete), regref, text subpath,
//                  code byte (kRegErrors), last-error byte
//   op  8 shellfail stage byte, hr byte (kShellErrors), last-error byte
//   op  9 fsflag   flag byte (0 in use, 1 locked, 2 read-only), place, text
//   op 10 answer   byte: bits 0-3 kAnswers, bits 4-7 repeat count - 1
//   op 11 cwd      place, text subpath (taken when it is a folder)
//   op 12 clock    4 bytes seconds since 1970 (signed), 2 bytes millis,
//                  step byte, signed byte UTC offset in hours
//   op 13 logfile  flags byte: bit 0 in the profile's TAVO folder, bit 1
//                  locked, bit 2 with earlier content, bit 3 a folder there
//   op 14 install  flags byte: bit 0 the Wow6432Node branch, bit 1 keys only
//   op 15 startmenu flags byte: bit 0 the folder, bit 1 the shortcut, bit 2
//                  the folder's name as a file, bit 3 the shortcut's as a folder
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <set>
#include <string>
#include <vector>

namespace fuzz {

enum { kOpCount = 16 };

// The product's Uninstall GUID, and the archives it puts in a Java home.
extern const char kGuid[];
extern const char* const kArchives[5];

// What the checks need to know about the machine besides its state.
struct Planted {
  std::vector<int> answers;
  std::string profile;             // CSIDL_PROFILE as set ("" when none)
  std::string cwd;                 // current directory
  std::set<std::string> locked;    // FsKey of files another program holds
  std::set<std::string> readOnly;  // FsKey of folders nothing can be made in
  bool nativeAmd64 = true;         // the only architecture the tool counts as 64-bit
  bool wowBranch = true;           // the registry has the Wow6432Node view
};

// Resets the simulated machine and builds the one the input describes.
void Plant(const uint8_t* data, size_t size, Planted* planted);

// The key under which a file-system path is compared: resolved as Windows
// resolves it against `cwd` (drive, ".", "..", one trailing backslash),
// ASCII letters upper-cased, code page 932 trail bytes kept. "" when the
// text is no path.
std::string FsKey(const std::string& path, const std::string& cwd);

// A registry path upper-cased for comparison, as Windows compares names.
std::string RegKey(const std::string& path);

// Splits at every backslash that is a character of its own (a code page 932
// trail byte may be 0x5C).
std::vector<std::string> SplitPath(const std::string& path);

}  // namespace fuzz
