// Win32 stored defaults: the string value DefaultParams under the key
// SOFTWARE\Penwick Software\Quorvel of HKEY_LOCAL_MACHINE (every user's) and of
// HKEY_CURRENT_USER (this user's), read by Quorvel and written by the configuration program.
// Only code for Windows goes in this file.
#include <vector>

#include "console/windows_api.h"
#include "disk/stored_defaults.h"

ParamStr ReadRegistryString(const char* valueName, const ParamStr& fallback);

namespace {
const char KeyPath[] = "SOFTWARE\\Penwick Software\\Quorvel";
const char ValueName[] = "DefaultParams";

// The machine's key is the one of the system's own (64-bit) view of the registry for both
// builds, so that the 32-bit and the 64-bit programs read and write the same value; a 32-bit
// program would otherwise be sent to WOW6432Node. Windows of 32 bits ignores the flag.
const REGSAM MachineView = KEY_WOW64_64KEY;

HKEY RootOf(StoredScope scope) {
  return scope == MachineDefaults ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

// The small registry accessor: a root, and the key opened under it while the string is read.
struct RegistryAccessor {
  HKEY root;
  HKEY key;
  bool open;
};

// The accessor of the one read in progress; the key is open only while it is read.
RegistryAccessor* Registry = nullptr;
bool ReadTooLong = false;  // the read in progress met a string past ParamCapacity

// A value of the wrong type is the accessor's error; it never leaves this file.
enum ReadResult { ReadOk, ReadWrongType, ReadFailed };

ReadResult ReadString(HKEY key, const char* valueName, DWORD size, ParamStr* out) {
  BClear(*out);
  if (size == 0) return ReadOk;
  std::vector<char> buffer(size + 1, 0);
  DWORD type = 0, got = size;
  if (RegQueryValueExA(key, valueName, nullptr, &type, (BYTE*)buffer.data(), &got) != ERROR_SUCCESS)
    return ReadFailed;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return ReadWrongType;
  if (got > size) got = size;
  *out = StoredText(buffer.data(), (int)got, false, &ReadTooLong);
  return ReadOk;
}

// Whether the key holds the value at all (of any type).
bool HasValue(HKEY key) {
  return RegQueryValueExA(key, ValueName, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

// Reads the value of root's key in the given view; false when the key cannot be opened for
// reading or has no such value. Opened for reading only: a standard user may read the
// machine's key, not open it for full access (and a 64-bit program is never given a virtual
// copy of it instead).
bool ReadFrom(HKEY root, REGSAM view, ParamStr* text) {
  RegistryAccessor accessor = {root, nullptr, false};
  if (RegOpenKeyExA(root, KeyPath, 0, KEY_QUERY_VALUE | view, &accessor.key) != ERROR_SUCCESS)
    return false;
  accessor.open = true;
  Registry = &accessor;
  bool found = HasValue(accessor.key);
  ParamStr empty;
  BClear(empty);
  if (found) *text = ReadRegistryString(ValueName, empty);
  RegCloseKey(accessor.key);
  Registry = nullptr;
  return found;
}
}  // namespace

// Reads a string value of the open key: the fallback when it is missing or of another type
// than a string; the text up to its first zero byte otherwise (empty, with the read's too-long
// mark set, when that holds more than ParamCapacity bytes).
ParamStr ReadRegistryString(const char* valueName, const ParamStr& fallback) {
  if (Registry == nullptr || !Registry->open) return fallback;
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(Registry->key, valueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
    return fallback;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return fallback;
  ParamStr text;
  switch (ReadString(Registry->key, valueName, size, &text)) {
    case ReadOk:
      return text;
    case ReadWrongType:
      return fallback;
    case ReadFailed:
    default:
      // Any other failure: the caller's rule is that a failed read leaves the string empty.
      BClear(text);
      return text;
  }
}

const char* StoredDefaultsPlace(StoredScope scope) {
  return scope == MachineDefaults
             ? "HKEY_LOCAL_MACHINE\\SOFTWARE\\Penwick Software\\Quorvel, value DefaultParams"
             : "HKEY_CURRENT_USER\\SOFTWARE\\Penwick Software\\Quorvel, value DefaultParams";
}

ParamStr ReadStoredDefaults(StoredScope scope, bool* tooLong) {
  ParamStr text;
  BClear(text);
  ReadTooLong = false;
  if (scope == UserDefaults) {
    ReadFrom(HKEY_CURRENT_USER, 0, &text);
  } else if (!ReadFrom(HKEY_LOCAL_MACHINE, MachineView, &text)) {
    // A string stored by an earlier 32-bit configuration program, in the 32-bit view, counts
    // until one is stored in the shared place.
    ReadFrom(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, &text);
  }
  *tooLong = ReadTooLong;
  return text;
}

bool StoreDefaultParams(StoredScope scope, const ParamStr& text, BStr* failure) {
  HKEY key;
  DWORD disposition = 0;
  REGSAM view = scope == MachineDefaults ? MachineView : 0;
  LONG result = RegCreateKeyExA(RootOf(scope), KeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_SET_VALUE | view, nullptr, &key, &disposition);
  if (result == ERROR_SUCCESS) {
    result =
        RegSetValueExA(key, ValueName, 0, REG_SZ, (const BYTE*)text.text, (DWORD)text.length + 1);
    RegCloseKey(key);
  }
  if (result == ERROR_SUCCESS) return true;
  char message[512];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           (DWORD)result, 0, message, sizeof message, nullptr);
  while (n > 0 && (message[n - 1] == '\r' || message[n - 1] == '\n')) --n;
  if (n == 0) n = (DWORD)wsprintfA(message, "system error %ld", result);
  BSet(*failure, message, (int)n);
  return false;
}
