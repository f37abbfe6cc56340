// Win32 stored defaults: the string value DefaultParams under
// HKEY_LOCAL_MACHINE\SOFTWARE\Penwick Software\Quorvel, read by Quorvel and written by the
// configuration program. Only code for Windows goes in this file.
#include <vector>

#include "console/windows_api.h"
#include "disk/stored_defaults.h"

ParamStr ReadRegistryString(const char* valueName, const ParamStr& fallback);

const char StoredDefaultsPlace[] =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Penwick Software\\Quorvel, value DefaultParams";

namespace {
const char KeyPath[] = "SOFTWARE\\Penwick Software\\Quorvel";
const char ValueName[] = "DefaultParams";

// The small registry accessor: a root, and the key opened under it while the string is read.
struct RegistryAccessor {
  HKEY root;
  HKEY key;
  bool open;
};

// The accessor of the one read in progress; the key is open only inside LoadStoredDefaults.
RegistryAccessor* Registry = nullptr;

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
  *out = StoredText(buffer.data(), (int)got, false, &StoredDefaultsTooLong);
  return ReadOk;
}
}  // namespace

// Reads a string value of the open key: the fallback when it is missing or of another type
// than a string; the text up to its first zero byte otherwise (empty, with
// StoredDefaultsTooLong set, when that holds more than ParamCapacity bytes).
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

void LoadStoredDefaults() {
  RegistryAccessor accessor = {HKEY_LOCAL_MACHINE, nullptr, false};
  Registry = &accessor;
  BClear(StoredDefaultParams);
  StoredDefaultsTooLong = false;
  DWORD disposition = 0;
  // Opened with creation allowed and full access, as the configuration program expects to
  // find the key; a user who may not write there gets nothing, silently.
  if (RegCreateKeyExA(accessor.root, KeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                      nullptr, &accessor.key, &disposition) == ERROR_SUCCESS) {
    accessor.open = true;
    ParamStr empty;
    BClear(empty);
    StoredDefaultParams = ReadRegistryString(ValueName, empty);
    RegCloseKey(accessor.key);
    accessor.open = false;
  }
  Registry = nullptr;
}

bool StoreDefaultParams(const ParamStr& text, BStr* failure) {
  HKEY key;
  DWORD disposition = 0;
  LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, KeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_SET_VALUE, nullptr, &key, &disposition);
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
