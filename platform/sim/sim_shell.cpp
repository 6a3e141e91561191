// Text conversion under the CRT locale, and deletion through shell items and
// IFileOperation. An injected failure (ShellFail) hits every later call of
// its stage until Reset().
#include <iconv.h>

#include <algorithm>
#include <cstring>

#include "platform/sim/sim_internal.h"

using namespace sim::detail;

namespace {

const int kEinval = 22, kEilseq = 42, kStruncate = 80;
const HRESULT kNotFound = static_cast<HRESULT>(0x80070002u);  // HRESULT_FROM_WIN32(2)
const HRESULT kInvalidArg = static_cast<HRESULT>(0x80070057u);
const HRESULT kPointer = static_cast<HRESULT>(0x80004003u);

// glibc's iconv between code page 932 and UTF-32LE; false for a sequence
// that does not convert.
bool Convert(const char* to, const char* from, const std::string& in, std::string* out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) Die(std::string("iconv cannot convert ") + from + " to " + to);
  std::string src = in;
  out->assign(in.size() * 4 + 4, '\0');
  char* inp = &src[0];
  char* outp = &(*out)[0];
  size_t inLeft = src.size(), outLeft = out->size();
  bool ok = iconv(cd, &inp, &inLeft, &outp, &outLeft) != static_cast<size_t>(-1);
  iconv_close(cd);
  out->resize(out->size() - outLeft);
  return ok && inLeft == 0;
}

// The injected failure of `stage`, applied: true when the call must fail.
bool Injected(sim::ShellStage stage, HRESULT* hr) {
  const ShellFailure& f = St().shellFail[stage];
  if (!f.set) return false;
  St().lastError = f.lastError;
  *hr = f.hr;
  return true;
}

void CheckOp(const OsFileOp* op) {
  if (!op || op->released) Die("IFileOperation used after its release");
}

// Deletes the entry `key` with everything below it, except in-use entries
// and the folders that hold them. True when something was skipped.
bool DeleteTree(const std::string& key) {
  auto& fs = St().fs;
  auto top = fs.find(key);
  if (top == fs.end()) return false;
  std::string prefix = key + "\\";
  std::vector<std::string> subtree{key}, keep;
  for (auto it = fs.lower_bound(prefix); it != fs.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
    subtree.push_back(it->first);
  }
  for (const std::string& k : subtree) {
    if (fs[k].inUse) keep.push_back(k);
  }
  for (const std::string& k : subtree) {
    bool stays = Split(k).size() == 1;  // a drive root
    for (const std::string& kept : keep) {
      stays = stays || kept == k || kept.compare(0, k.size() + 1, k + "\\") == 0;
    }
    if (!stays) fs.erase(k);
  }
  return !keep.empty();
}

}  // namespace

int OsMbsToWcs(wchar_t* dst, size_t dstUnits, const char* src) {
  if (!dst || dstUnits == 0 || !src) return kEinval;
  dst[0] = 0;
  std::vector<wchar_t> chars;
  if (!St().japanese) {
    // The "C" locale knows no byte above 0x7F.
    for (const char* p = src; *p; ++p) {
      if (static_cast<unsigned char>(*p) >= 0x80) return kEilseq;
      chars.push_back(static_cast<wchar_t>(*p));
    }
  } else {
    std::string utf32;
    if (!Convert("UTF-32LE", "CP932", src, &utf32)) return kEilseq;
    for (size_t i = 0; i + 3 < utf32.size(); i += 4) {
      uint32_t c = 0;
      for (int b = 3; b >= 0; --b) c = (c << 8) | static_cast<unsigned char>(utf32[i + b]);
      chars.push_back(static_cast<wchar_t>(c));
    }
  }
  int rc = 0;
  if (chars.size() + 1 > dstUnits) {
    chars.resize(dstUnits - 1);
    rc = kStruncate;
  }
  std::copy(chars.begin(), chars.end(), dst);
  dst[chars.size()] = 0;
  return rc;
}

HRESULT OsCreateShellItem(const wchar_t* path, OsShellItem** item) {
  if (!item) return kInvalidArg;
  *item = nullptr;
  HRESULT hr;
  if (Injected(sim::kParse, &hr)) return hr;
  if (!path) return kInvalidArg;
  std::string utf32, text;
  for (const wchar_t* p = path; *p; ++p) {
    uint32_t c = static_cast<uint32_t>(*p);
    for (int b = 0; b < 4; ++b) utf32 += static_cast<char>((c >> (8 * b)) & 0xFF);
  }
  if (!Convert("CP932", "UTF-32LE", utf32, &text)) return kNotFound;
  // The shell parses only absolute paths with a drive.
  bool absolute = text.size() >= 3 && text[1] == ':' && text[2] == '\\' &&
                  ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z'));
  std::vector<std::string> parts;
  if (!absolute || !ResolveFs(text, &parts)) return kNotFound;
  auto it = St().fs.find(Fold(Join(parts, parts.size())));
  if (it == St().fs.end()) return kNotFound;
  std::string stored = parts.size() == 1 ? it->second.path + "\\" : it->second.path;
  St().items.push_back(std::unique_ptr<OsShellItem>(new OsShellItem{stored, false}));
  ++St().shellAlive;
  *item = St().items.back().get();
  return S_OK;
}

HRESULT OsCreateFileOperation(OsFileOp** op) {
  if (!op) return kInvalidArg;
  *op = nullptr;
  if (!St().com) return CO_E_NOTINITIALIZED;
  HRESULT hr;
  if (Injected(sim::kCreate, &hr)) return hr;
  St().ops.push_back(std::unique_ptr<OsFileOp>(new OsFileOp{0, {}, {}, false, false}));
  ++St().shellAlive;
  *op = St().ops.back().get();
  return S_OK;
}

HRESULT OsFileOpSetFlags(OsFileOp* op, DWORD flags) {
  CheckOp(op);
  HRESULT hr;
  if (Injected(sim::kSetFlags, &hr)) return hr;
  op->flags = flags;
  return S_OK;
}

HRESULT OsFileOpDeleteItem(OsFileOp* op, OsShellItem* item) {
  CheckOp(op);
  if (!item || item->released) Die("IShellItem used after its release");
  HRESULT hr;
  if (Injected(sim::kDeleteItem, &hr)) return hr;
  op->queue.push_back(item->path);
  op->records.push_back(St().shellOps.size());
  St().shellOps.push_back(sim::ShellOp{item->path, op->flags, false});
  return S_OK;
}

HRESULT OsFileOpPerform(OsFileOp* op) {
  CheckOp(op);
  for (size_t r : op->records) St().shellOps[r].performed = true;
  HRESULT hr;
  if (Injected(sim::kPerform, &hr)) return hr;
  for (const std::string& path : op->queue) {
    std::vector<std::string> parts;
    if (ResolveFs(path, &parts) && DeleteTree(Fold(Join(parts, parts.size())))) op->aborted = true;
  }
  op->queue.clear();
  return S_OK;  // a skipped item still counts as success; only the aborted flag tells
}

HRESULT OsFileOpAnyAborted(OsFileOp* op, int* aborted) {
  CheckOp(op);
  HRESULT hr;
  if (Injected(sim::kAnyAborted, &hr)) return hr;
  if (!aborted) return kPointer;
  *aborted = op->aborted ? 1 : 0;
  return S_OK;
}

void OsFileOpRelease(OsFileOp* op) {
  if (!op) Die("IFileOperation::Release on NULL");
  if (op->released) ++St().shellBadReleases;
  op->released = true;
  --St().shellAlive;
}

void OsShellItemRelease(OsShellItem* item) {
  if (!item) Die("IShellItem::Release on NULL");
  if (item->released) ++St().shellBadReleases;
  item->released = true;
  --St().shellAlive;
}

namespace sim {

void ShellFail(ShellStage stage, HRESULT hr, DWORD lastError) {
  St().shellFail[stage] = detail::ShellFailure{true, hr, lastError};
}

const std::vector<ShellOp>& ShellOps() { return St().shellOps; }

int ShellObjectsAlive() { return St().shellAlive; }

int ShellBadReleases() { return St().shellBadReleases; }

}  // namespace sim
