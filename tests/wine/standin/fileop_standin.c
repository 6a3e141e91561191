/* A test-only IFileOperation for the Wine prefixes of the end-to-end tests.

   Wine 8 implements none of IFileOperation's deletion (its methods return
   E_NOTIMPL), so the shipped exe could never delete a file there. This small
   in-process server, registered for CLSID_FileOperation in the prefix, serves
   the methods the tool calls as Microsoft documents them and deletes for
   real; it is never shipped.

   - SetOperationFlags keeps the flags.
   - DeleteItem queues the item and holds a reference to it past the object's
     end: it lets go when the next object is made or the process ends, and
     traces the count Release returns, 0 only if the caller let go first.
   - PerformOperations deletes every queued item permanently, a folder with
     all it holds, through Wine's SHFileOperationW (FO_DELETE) with the flags
     that were set. FOF_NOERRORUI is added: the shell's own error dialogs
     belong to Windows, and here nobody would answer them.
   - GetAnyOperationsAborted says whether any part was skipped.
   - Every other method returns E_NOTIMPL.

   TAVO_FILEOP_TRACE names a file (a Windows path) that gets one UTF-8 line
   per call: method, object number, arguments, result.
   TAVO_FILEOP_FAIL injects failures: "Method:0xHRESULT[@N]" items separated
   by ';' make that method of object N (every object without @N) return the
   code without doing anything; "GetAnyOperationsAborted:1[@N]" makes
   PerformOperations skip its deletion and report it aborted. */
#define COBJMACROS
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shobjidl.h>
#include <stdarg.h>
#include <stdio.h>
#include <wchar.h>

enum { kMaxQueued = 16 };

typedef struct FileOp {
  IFileOperation iface;
  LONG refs;
  LONG id;
  DWORD flags;
  IShellItem* queued[kMaxQueued];
  int count;
  BOOL aborted;
} FileOp;

/* Items of destroyed objects whose reference is still held, with their object. */
static IShellItem* g_kept[kMaxQueued];
static LONG g_keptBy[kMaxQueued];
static int g_keptCount;

static LONG g_live;    /* objects not yet destroyed */
static LONG g_serial;  /* objects made so far: their numbers */
static LONG g_locks;

/* ---- trace */

/* Each line ends with the LastError the method leaves, which the exe logs
   beside a failed call's result. */
static void Trace(const char* format, ...) {
  DWORD lastError = GetLastError(); /* the caller reads it after our calls */
  wchar_t path[MAX_PATH];
  DWORD n = GetEnvironmentVariableW(L"TAVO_FILEOP_TRACE", path, MAX_PATH);
  char line[2048];
  va_list args;
  va_start(args, format);
  int len = n == 0 || n >= MAX_PATH ? -1 : vsnprintf(line, sizeof line - 32, format, args);
  va_end(args);
  if (len < 0) {
    SetLastError(lastError);
    return;
  }
  if (len > (int)sizeof line - 33) len = (int)sizeof line - 33;
  len += snprintf(line + len, 24, " lasterror=0x%08lX", (unsigned long)lastError);
  line[len++] = '\r';
  line[len++] = '\n';
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written;
    WriteFile(file, line, (DWORD)len, &written, NULL);
    CloseHandle(file);
  }
  SetLastError(lastError);
}

static void Utf8(const wchar_t* text, char* out, int size) {
  if (!text || !WideCharToMultiByte(CP_UTF8, 0, text, -1, out, size, NULL, NULL))
    lstrcpynA(out, "(none)", size);
}

/* The file-system path of an item, in UTF-8, for the trace. */
static void ItemPath(IShellItem* item, char* out, int size) {
  wchar_t* name = NULL;
  if (item && SUCCEEDED(IShellItem_GetDisplayName(item, SIGDN_FILESYSPATH, &name))) {
    Utf8(name, out, size);
    CoTaskMemFree(name);
  } else {
    lstrcpynA(out, "(none)", size);
  }
}

/* ---- injected failures */

/* The code injected for method of object id; 0 when none. */
static HRESULT Injected(const char* method, LONG id) {
  char spec[512];
  DWORD n = GetEnvironmentVariableA("TAVO_FILEOP_FAIL", spec, sizeof spec);
  if (n == 0 || n >= sizeof spec) return 0;
  size_t len = strlen(method);
  for (char* item = strtok(spec, ";"); item; item = strtok(NULL, ";")) {
    if (strncmp(item, method, len) != 0 || item[len] != ':') continue;
    char* end;
    unsigned long code = strtoul(item + len + 1, &end, 0);
    if (*end == '@' && strtol(end + 1, NULL, 10) != id) continue;
    return (HRESULT)code;
  }
  return 0;
}

/* ---- IFileOperation */

static FileOp* Impl(IFileOperation* iface) { return (FileOp*)iface; }

static HRESULT STDMETHODCALLTYPE QueryInterface(IFileOperation* iface, REFIID riid, void** out) {
  FileOp* op = Impl(iface);
  HRESULT hr = E_NOINTERFACE;
  *out = NULL;
  if (IsEqualIID(riid, &IID_IUnknown) || IsEqualIID(riid, &IID_IFileOperation)) {
    *out = iface;
    InterlockedIncrement(&op->refs);
    hr = S_OK;
  }
  Trace("QueryInterface obj=%ld iid={%08lX-...} hr=0x%08lX", op->id, riid->Data1, (unsigned long)hr);
  return hr;
}

static ULONG STDMETHODCALLTYPE AddRef(IFileOperation* iface) {
  FileOp* op = Impl(iface);
  LONG refs = InterlockedIncrement(&op->refs);
  Trace("AddRef obj=%ld refs=%ld", op->id, refs);
  return (ULONG)refs;
}

static ULONG STDMETHODCALLTYPE Release(IFileOperation* iface) {
  FileOp* op = Impl(iface);
  LONG refs = InterlockedDecrement(&op->refs);
  Trace("Release obj=%ld refs=%ld", op->id, refs);
  if (refs == 0) {
    for (int i = 0; i < op->count && g_keptCount < kMaxQueued; i++) {
      g_keptBy[g_keptCount] = op->id;
      g_kept[g_keptCount++] = op->queued[i];
    }
    LONG live = InterlockedDecrement(&g_live);
    Trace("destroy obj=%ld live=%ld", op->id, live);
    HeapFree(GetProcessHeap(), 0, op);
  }
  return (ULONG)refs;
}

static void LetGoOfItems(void) {
  for (int i = 0; i < g_keptCount; i++) {
    ULONG left = IShellItem_Release(g_kept[i]);
    Trace("ItemRelease item=%ld refs=%lu", g_keptBy[i], left);
  }
  g_keptCount = 0;
}

static HRESULT STDMETHODCALLTYPE SetOperationFlags(IFileOperation* iface, DWORD flags) {
  FileOp* op = Impl(iface);
  HRESULT hr = Injected("SetOperationFlags", op->id);
  if (hr == 0) op->flags = flags;
  Trace("SetOperationFlags obj=%ld flags=0x%08lX hr=0x%08lX", op->id, flags, (unsigned long)hr);
  return hr;
}

static HRESULT STDMETHODCALLTYPE DeleteItem(IFileOperation* iface, IShellItem* item,
                                            IFileOperationProgressSink* sink) {
  FileOp* op = Impl(iface);
  char path[MAX_PATH * 3];
  ItemPath(item, path, sizeof path);
  HRESULT hr = Injected("DeleteItem", op->id);
  if (hr == 0) {
    if (!item) {
      hr = E_INVALIDARG;
    } else if (op->count == kMaxQueued) {
      hr = E_OUTOFMEMORY;
    } else {
      IShellItem_AddRef(item);
      op->queued[op->count++] = item;
    }
  }
  Trace("DeleteItem obj=%ld path=%s sink=%d hr=0x%08lX", op->id, path, sink != NULL, (unsigned long)hr);
  return hr;
}

/* Deletes one item through the shell; S_OK, or the failure as an HRESULT. */
static HRESULT DeleteNow(FileOp* op, IShellItem* item) {
  wchar_t* name = NULL;
  HRESULT hr = IShellItem_GetDisplayName(item, SIGDN_FILESYSPATH, &name);
  if (FAILED(hr)) return hr;
  /* pFrom is a list: the path, then an empty string. */
  wchar_t from[MAX_PATH + 2];
  size_t len = wcslen(name);
  if (len > MAX_PATH) {
    CoTaskMemFree(name);
    return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
  }
  memcpy(from, name, (len + 1) * sizeof(wchar_t));
  from[len + 1] = L'\0';
  CoTaskMemFree(name);
  SHFILEOPSTRUCTW request;
  ZeroMemory(&request, sizeof request);
  request.wFunc = FO_DELETE;
  request.pFrom = from;
  request.fFlags = (FILEOP_FLAGS)(op->flags | FOF_NOERRORUI);
  int result = SHFileOperationW(&request);
  char utf8[MAX_PATH * 3];
  Utf8(from, utf8, sizeof utf8);
  Trace("SHFileOperationW obj=%ld path=%s fFlags=0x%04X result=%d aborted=%d", op->id, utf8,
        (unsigned)request.fFlags, result, request.fAnyOperationsAborted);
  if (request.fAnyOperationsAborted) op->aborted = TRUE;
  return result == 0 ? S_OK : HRESULT_FROM_WIN32((DWORD)result);
}

static HRESULT STDMETHODCALLTYPE PerformOperations(IFileOperation* iface) {
  FileOp* op = Impl(iface);
  HRESULT hr = Injected("PerformOperations", op->id);
  if (hr == 0 && Injected("GetAnyOperationsAborted", op->id)) {
    op->aborted = TRUE; /* as if the user skipped it in the shell's dialog */
  } else if (hr == 0) {
    for (int i = 0; i < op->count && SUCCEEDED(hr); i++) hr = DeleteNow(op, op->queued[i]);
  }
  Trace("PerformOperations obj=%ld queued=%d hr=0x%08lX", op->id, op->count, (unsigned long)hr);
  return hr;
}

static HRESULT STDMETHODCALLTYPE GetAnyOperationsAborted(IFileOperation* iface, BOOL* aborted) {
  FileOp* op = Impl(iface);
  HRESULT hr = aborted ? S_OK : E_POINTER;
  if (aborted) *aborted = op->aborted;
  Trace("GetAnyOperationsAborted obj=%ld aborted=%d hr=0x%08lX", op->id, op->aborted,
        (unsigned long)hr);
  return hr;
}

/* Methods the tool never calls: each says so in the trace. */
#define NOT_IMPLEMENTED(name, ...)                                        \
  static HRESULT STDMETHODCALLTYPE name(IFileOperation* iface, __VA_ARGS__) { \
    Trace(#name " obj=%ld hr=0x%08lX", Impl(iface)->id, (unsigned long)E_NOTIMPL); \
    return E_NOTIMPL;                                                     \
  }
NOT_IMPLEMENTED(Advise, IFileOperationProgressSink* a, DWORD* b)
NOT_IMPLEMENTED(Unadvise, DWORD a)
NOT_IMPLEMENTED(SetProgressMessage, LPCWSTR a)
NOT_IMPLEMENTED(SetProgressDialog, IOperationsProgressDialog* a)
NOT_IMPLEMENTED(SetProperties, IPropertyChangeArray* a)
NOT_IMPLEMENTED(SetOwnerWindow, HWND a)
NOT_IMPLEMENTED(ApplyPropertiesToItem, IShellItem* a)
NOT_IMPLEMENTED(ApplyPropertiesToItems, IUnknown* a)
NOT_IMPLEMENTED(RenameItem, IShellItem* a, LPCWSTR b, IFileOperationProgressSink* c)
NOT_IMPLEMENTED(RenameItems, IUnknown* a, LPCWSTR b)
NOT_IMPLEMENTED(MoveItem, IShellItem* a, IShellItem* b, LPCWSTR c, IFileOperationProgressSink* d)
NOT_IMPLEMENTED(MoveItems, IUnknown* a, IShellItem* b)
NOT_IMPLEMENTED(CopyItem, IShellItem* a, IShellItem* b, LPCWSTR c, IFileOperationProgressSink* d)
NOT_IMPLEMENTED(CopyItems, IUnknown* a, IShellItem* b)
NOT_IMPLEMENTED(DeleteItems, IUnknown* a)
NOT_IMPLEMENTED(NewItem, IShellItem* a, DWORD b, LPCWSTR c, LPCWSTR d, IFileOperationProgressSink* e)

static const IFileOperationVtbl kFileOpVtbl = {
    QueryInterface, AddRef, Release, Advise, Unadvise, SetOperationFlags, SetProgressMessage,
    SetProgressDialog, SetProperties, SetOwnerWindow, ApplyPropertiesToItem,
    ApplyPropertiesToItems, RenameItem, RenameItems, MoveItem, MoveItems, CopyItem, CopyItems,
    DeleteItem, DeleteItems, NewItem, PerformOperations, GetAnyOperationsAborted};

/* ---- class factory */

static HRESULT STDMETHODCALLTYPE FactoryQueryInterface(IClassFactory* iface, REFIID riid, void** out) {
  if (IsEqualIID(riid, &IID_IUnknown) || IsEqualIID(riid, &IID_IClassFactory)) {
    *out = iface;
    return S_OK;
  }
  *out = NULL;
  return E_NOINTERFACE;
}

static ULONG STDMETHODCALLTYPE FactoryAddRef(IClassFactory* iface) {
  (void)iface;
  return 2;
}

static ULONG STDMETHODCALLTYPE FactoryRelease(IClassFactory* iface) {
  (void)iface;
  return 1;
}

static HRESULT STDMETHODCALLTYPE CreateInstance(IClassFactory* iface, IUnknown* outer, REFIID riid,
                                                void** out) {
  (void)iface;
  *out = NULL;
  if (outer) return CLASS_E_NOAGGREGATION;
  LetGoOfItems();
  FileOp* op = (FileOp*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof *op);
  if (!op) return E_OUTOFMEMORY;
  op->iface.lpVtbl = (IFileOperationVtbl*)&kFileOpVtbl;
  op->refs = 1;
  op->id = InterlockedIncrement(&g_serial);
  LONG live = InterlockedIncrement(&g_live);
  Trace("create obj=%ld live=%ld", op->id, live);
  HRESULT hr = QueryInterface(&op->iface, riid, out);
  Release(&op->iface);
  return hr;
}

static HRESULT STDMETHODCALLTYPE LockServer(IClassFactory* iface, BOOL lock) {
  (void)iface;
  if (lock)
    InterlockedIncrement(&g_locks);
  else
    InterlockedDecrement(&g_locks);
  return S_OK;
}

static const IClassFactoryVtbl kFactoryVtbl = {FactoryQueryInterface, FactoryAddRef, FactoryRelease,
                                               CreateInstance, LockServer};
static IClassFactory g_factory = {(IClassFactoryVtbl*)&kFactoryVtbl};

/* ---- exports */

HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
  HRESULT hr = IsEqualCLSID(clsid, &CLSID_FileOperation)
                   ? FactoryQueryInterface(&g_factory, riid, out)
                   : CLASS_E_CLASSNOTAVAILABLE;
  Trace("DllGetClassObject clsid={%08lX-...} hr=0x%08lX", clsid->Data1, (unsigned long)hr);
  return hr;
}

HRESULT WINAPI DllCanUnloadNow(void) { return g_live == 0 && g_locks == 0 ? S_OK : S_FALSE; }

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void* reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
    wchar_t exe[MAX_PATH];
    char utf8[MAX_PATH * 3];
    if (!GetModuleFileNameW(NULL, exe, MAX_PATH)) exe[0] = L'\0';
    Utf8(exe, utf8, sizeof utf8);
    Trace("load process=%s pid=%lu", utf8, GetCurrentProcessId());
  } else if (reason == DLL_PROCESS_DETACH) {
    LetGoOfItems();
    Trace("unload live=%ld", g_live);
  }
  return TRUE;
}
