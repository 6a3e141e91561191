// The simulated registry's view redirection and its ERROR_MORE_DATA buffer
// scribbling: product tests rely on both to catch wrong view bits and reads
// of a buffer that was too small.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/sim/sim.h"

namespace {

const char* const kPlanted[] = {"SOFTWARE\\TAVO", "SOFTWARE\\Wow6432Node\\TAVO", "SYSTEM\\TAVO"};

// A fresh machine of that architecture. Each planted key holds its own
// path, so a read shows which key was reached.
void PlantKeys(WORD nativeArch = PROCESSOR_ARCHITECTURE_AMD64) {
  sim::Reset();
  sim::SetArchitecture(nativeArch, PROCESSOR_ARCHITECTURE_INTEL, true);
  for (const char* path : kPlanted) sim::RegSetString(path, "Which", path);
}

struct ViewCase {
  WORD nativeArch;
  REGSAM view;
  const char* written;
  const char* reached;
};

const ViewCase kViewCases[] = {
    // One view on a 32-bit machine: the bits change nothing.
    {PROCESSOR_ARCHITECTURE_INTEL, 0, "SOFTWARE\\TAVO", "SOFTWARE\\TAVO"},
    {PROCESSOR_ARCHITECTURE_INTEL, KEY_WOW64_64KEY, "SOFTWARE\\TAVO", "SOFTWARE\\TAVO"},
    {PROCESSOR_ARCHITECTURE_INTEL, KEY_WOW64_32KEY, "SOFTWARE\\TAVO", "SOFTWARE\\TAVO"},
    {PROCESSOR_ARCHITECTURE_INTEL, KEY_WOW64_32KEY, "SOFTWARE\\Wow6432Node\\TAVO",
     "SOFTWARE\\Wow6432Node\\TAVO"},
    {PROCESSOR_ARCHITECTURE_IA64, KEY_WOW64_32KEY, "SOFTWARE\\TAVO", "SOFTWARE\\TAVO"},
    // 64-bit view: as written.
    {PROCESSOR_ARCHITECTURE_AMD64, KEY_WOW64_64KEY, "SOFTWARE\\TAVO", "SOFTWARE\\TAVO"},
    {PROCESSOR_ARCHITECTURE_AMD64, KEY_WOW64_64KEY, "SOFTWARE\\Wow6432Node\\TAVO",
     "SOFTWARE\\Wow6432Node\\TAVO"},
    // 32-bit view, asked for or by default: SOFTWARE\X goes to Wow6432Node.
    {PROCESSOR_ARCHITECTURE_AMD64, KEY_WOW64_32KEY, "SOFTWARE\\TAVO", "SOFTWARE\\Wow6432Node\\TAVO"},
    {PROCESSOR_ARCHITECTURE_AMD64, 0, "SOFTWARE\\TAVO", "SOFTWARE\\Wow6432Node\\TAVO"},
    {PROCESSOR_ARCHITECTURE_AMD64, KEY_WOW64_32KEY, "software\\tavo", "SOFTWARE\\Wow6432Node\\TAVO"},
    {PROCESSOR_ARCHITECTURE_ARM64, KEY_WOW64_32KEY, "SOFTWARE\\TAVO", "SOFTWARE\\Wow6432Node\\TAVO"},
    // Never redirected twice, nor outside SOFTWARE, nor SOFTWARE itself.
    {PROCESSOR_ARCHITECTURE_AMD64, KEY_WOW64_32KEY, "SOFTWARE\\Wow6432Node\\TAVO",
     "SOFTWARE\\Wow6432Node\\TAVO"},
    {PROCESSOR_ARCHITECTURE_AMD64, KEY_WOW64_32KEY, "Software\\WOW6432NODE\\tavo",
     "SOFTWARE\\Wow6432Node\\TAVO"},
    {PROCESSOR_ARCHITECTURE_AMD64, KEY_WOW64_32KEY, "SYSTEM\\TAVO", "SYSTEM\\TAVO"},
    {PROCESSOR_ARCHITECTURE_AMD64, KEY_WOW64_32KEY, "SOFTWARE", "SOFTWARE"},
};

std::string Describe(const ViewCase& c) {
  return std::string(c.written) + " arch " + std::to_string(c.nativeArch) + " view 0x" +
         std::to_string(c.view / 0x100) + "00";
}

TEST(SimRegistryViews, OpenReachesTheKeyOfTheView) {
  for (const ViewCase& c : kViewCases) {
    SCOPED_TRACE(Describe(c));
    PlantKeys(c.nativeArch);
    HKEY key = nullptr;
    ASSERT_EQ(OsRegOpenKey(HKEY_LOCAL_MACHINE, c.written, KEY_READ | c.view, &key), ERROR_SUCCESS);
    EXPECT_EQ(sim::RegCalls().back().path, c.reached);
    char which[64] = {0};
    DWORD size = sizeof which - 1;
    LONG rc = OsRegQueryValue(key, "Which", nullptr, reinterpret_cast<BYTE*>(which), &size);
    if (std::string(c.reached) == "SOFTWARE") {
      EXPECT_EQ(rc, ERROR_FILE_NOT_FOUND);
    } else {
      EXPECT_EQ(rc, ERROR_SUCCESS);
      EXPECT_STREQ(which, c.reached);
    }
    OsRegCloseKey(key);
    EXPECT_EQ(sim::RegOpenHandles(), 0);
  }
}

TEST(SimRegistryViews, DeleteRemovesOnlyTheKeyOfTheView) {
  for (const ViewCase& c : kViewCases) {
    SCOPED_TRACE(Describe(c));
    PlantKeys(c.nativeArch);
    size_t before = sim::RegAllKeys().size();
    LONG rc = OsRegDeleteKey(HKEY_LOCAL_MACHINE, c.written, c.view);
    EXPECT_EQ(sim::RegCalls().back().path, c.reached);
    if (std::string(c.reached) == "SOFTWARE") {  // it still has subkeys
      EXPECT_EQ(rc, ERROR_ACCESS_DENIED);
      EXPECT_EQ(sim::RegAllKeys().size(), before);
    } else {
      EXPECT_EQ(rc, ERROR_SUCCESS);
      EXPECT_FALSE(sim::RegKeyExists(c.reached));
      EXPECT_EQ(sim::RegAllKeys().size(), before - 1);
    }
  }
}

TEST(SimRegistryViews, MissingKeyReportsTheRedirectedPath) {
  sim::Reset();
  sim::RegAddKey("SOFTWARE\\TAVO");
  HKEY key = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x42));
  EXPECT_EQ(OsRegOpenKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\TAVO", KEY_READ | KEY_WOW64_32KEY, &key),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(sim::RegCalls().back().path, "SOFTWARE\\Wow6432Node\\TAVO");
  EXPECT_EQ(sim::RegOpenHandles(), 0);
}

TEST(SimRegistryViews, SubkeyOfAnOpenKeyIsNeverRedirected) {
  PlantKeys();
  HKEY software = nullptr, key = nullptr;
  ASSERT_EQ(OsRegOpenKey(HKEY_LOCAL_MACHINE, "SOFTWARE", KEY_READ | KEY_WOW64_32KEY, &software),
            ERROR_SUCCESS);
  ASSERT_EQ(OsRegOpenKey(software, "TAVO", KEY_READ | KEY_WOW64_32KEY, &key), ERROR_SUCCESS);
  EXPECT_EQ(sim::RegCalls().back().path, "SOFTWARE\\TAVO");
  OsRegCloseKey(key);
  OsRegCloseKey(software);
  // Below a handle to the root itself, "SOFTWARE\X" is taken as written too.
  HKEY root = nullptr;
  ASSERT_EQ(OsRegOpenKey(HKEY_LOCAL_MACHINE, "", KEY_READ | KEY_WOW64_32KEY, &root), ERROR_SUCCESS);
  ASSERT_EQ(OsRegOpenKey(root, "SOFTWARE\\TAVO", KEY_READ | KEY_WOW64_32KEY, &key), ERROR_SUCCESS);
  EXPECT_EQ(sim::RegCalls().back().path, "SOFTWARE\\TAVO");
  OsRegCloseKey(key);
  OsRegCloseKey(root);
  EXPECT_EQ(sim::RegOpenHandles(), 0);
  EXPECT_EQ(sim::RegBadCloses(), 0);
}

struct QueryCase {
  const char* stored;  // bytes as stored, REG_SZ
  size_t storedLen;
  DWORD bufferSize;
  LONG result;
};

const QueryCase kQueryCases[] = {
    {"C:\\TAVO", 8, 0, ERROR_MORE_DATA},
    {"C:\\TAVO", 8, 1, ERROR_MORE_DATA},
    {"C:\\TAVO", 8, 7, ERROR_MORE_DATA},  // all but the NUL would fit
    {"C:\\TAVO", 8, 8, ERROR_SUCCESS},
    {"C:\\TAVO", 8, 20, ERROR_SUCCESS},
    {"abc", 3, 3, ERROR_SUCCESS},  // stored without a NUL: none is added
};

TEST(SimRegistryViews, QueryScribblesOnATooSmallBuffer) {
  for (const QueryCase& c : kQueryCases) {
    SCOPED_TRACE(std::string(c.stored) + " into " + std::to_string(c.bufferSize));
    sim::Reset();
    sim::RegSetValue("SOFTWARE\\TAVO", "Path", REG_SZ, std::string(c.stored, c.storedLen));
    HKEY key = nullptr;
    ASSERT_EQ(OsRegOpenKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\TAVO", KEY_READ | KEY_WOW64_64KEY, &key),
              ERROR_SUCCESS);
    BYTE buf[32];
    std::memset(buf, 0x11, sizeof buf);
    DWORD size = c.bufferSize;
    DWORD type = REG_NONE;
    EXPECT_EQ(OsRegQueryValue(key, "PATH", &type, buf, &size), c.result);
    EXPECT_EQ(size, c.storedLen);
    EXPECT_EQ(sim::RegCalls().back().access, c.bufferSize);
    if (c.result == ERROR_MORE_DATA) {
      for (DWORD i = 0; i < c.bufferSize; ++i) EXPECT_EQ(buf[i], 0xCD) << "byte " << i;
    } else {
      EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
      EXPECT_EQ(std::memcmp(buf, c.stored, c.storedLen), 0);
    }
    // Nothing beyond the bytes the call was given or stored is touched.
    size_t touched = c.result == ERROR_MORE_DATA ? c.bufferSize : c.storedLen;
    for (size_t i = touched; i < sizeof buf; ++i) EXPECT_EQ(buf[i], 0x11) << "byte " << i;
    OsRegCloseKey(key);
  }
}

}  // namespace

// Enumeration hands out every direct subkey once, in Windows order, however
// names extend each other and however deep the subtrees below them go.
TEST(SimRegistryViews, EnumerationListsEveryChildInOrder) {
  sim::Reset();
  for (const char* key : {"SOFTWARE\\X\\A\\deep\\deeper", "SOFTWARE\\X\\A1", "SOFTWARE\\X\\a_",
                          "SOFTWARE\\X\\A]", "SOFTWARE\\X\\B\\b", "SOFTWARE\\X\\ソ\\x",
                          "SOFTWARE\\X\\ソフト"}) {
    sim::RegAddKey(key);
  }
  HKEY key = nullptr;
  ASSERT_EQ(OsRegOpenKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\X", KEY_READ | KEY_WOW64_64KEY, &key),
            ERROR_SUCCESS);
  std::vector<std::string> names;
  char name[260];
  for (DWORD i = 0;; ++i) {
    DWORD length = sizeof name;
    LONG rc = OsRegEnumKey(key, i, name, &length);
    if (rc != ERROR_SUCCESS) {
      EXPECT_EQ(rc, ERROR_NO_MORE_ITEMS);
      break;
    }
    names.push_back(name);
  }
  OsRegCloseKey(key);
  // By upper-cased name: "A" < "A1" < "A]" < "A_" < "B" < two-byte names.
  EXPECT_EQ(names, (std::vector<std::string>{"A", "A1", "A]", "a_", "B", "ソ", "ソフト"}));
}
