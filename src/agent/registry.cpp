#include "agent/registry.h"

#include <shlwapi.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "log/agent_log.h"
#include "util/handles.h"
#include "util/message_text.h"
#include "util/text.h"

namespace {

const REGSAM kDefaultView = KEY_WOW64_32KEY;

REGSAM ViewFlag(int is64) { return is64 ? KEY_WOW64_64KEY : kDefaultView; }

void AppendWide(std::vector<BYTE>& bytes, const std::wstring& text) {
  const BYTE* begin = reinterpret_cast<const BYTE*>(text.c_str());
  bytes.insert(bytes.end(), begin, begin + (text.size() + 1) * sizeof(wchar_t));
}

void AppendUnit(std::vector<BYTE>& bytes, wchar_t unit) {
  const BYTE* begin = reinterpret_cast<const BYTE*>(&unit);
  bytes.insert(bytes.end(), begin, begin + sizeof(wchar_t));
}

template <typename T>
void AppendScalar(std::vector<BYTE>& bytes, T value) {
  const BYTE* begin = reinterpret_cast<const BYTE*>(&value);
  bytes.insert(bytes.end(), begin, begin + sizeof(T));
}

// The deleters describe a failure by the thread's last error, as the agent's
// other tools do, not by the result code they return.
void LogLastErrorText() {
  const std::string text = GetErrorMessageTextQuiet(static_cast<long>(GetLastError()));
  LogError(" Error Message: %s\n", text.c_str());
}

// One value write as writeValue, its quiet twin and writeValueEx make it.
struct ValueWrite {
  HKEY root = nullptr;
  const char* subkey = nullptr;
  const char* valueName = nullptr;
  const char* data = nullptr;
  DWORD type = REG_SZ;
  // writeValueEx: its texts, its encoding rules and the view of is64.
  bool ex = false;
  int is64 = 0;
  // The data never reaches the log (passwords).
  bool quiet = false;
};

void LogEncodedSize(const char* op, DWORD type, bool ex, int size) {
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      LogDebug("%s:  Data type is REG_SZ or REG_EXPAND_SZ or REG_BINARY: %d\n", op, size);
      break;
    case REG_BINARY:
      if (ex) {
        LogDebug("%s:  Data type is REG_BINARY: %d\n", op, size);
      } else {
        LogDebug("%s:  Data type is REG_SZ or REG_EXPAND_SZ or REG_BINARY: %d\n", op, size);
      }
      break;
    case REG_DWORD:
      LogDebug("%s:  REG_DWORD -- sizeOfInputData: %d\n", op, size);
      break;
    case REG_MULTI_SZ:
      LogDebug("%s:  Data type is REG_MULTI_SZ: %d\n", op, size);
      break;
    case REG_QWORD:
      LogDebug("%s:  REG_QWORD -- sizeOfInputData: %d\n", op, size);
      break;
    default:
      break;
  }
}

// Creates and opens the key and stores the encoded value under the wide
// name; `wideData` is what a failure line shows.
LONG StoreEncodedValue(const ValueWrite& write, const char* op, const std::wstring& wideName,
                       const std::wstring& wideData, const EncodedValue& encoded) {
  const char* subkey = write.subkey;
  LONG rc = write.ex ? addRegistryKeyEx(write.root, subkey, write.is64) : addRegistryKey(write.root, subkey);
  if (rc != ERROR_SUCCESS) {
    LogError("%s:  WriteValue failure during key creation! %ld \n", op, rc);
    return rc;
  }
  UniqueHKey key;
  rc = RegOpenKeyExA(write.root, subkey, 0, KEY_ALL_ACCESS | ViewFlag(write.ex ? write.is64 : 0), key.put());
  if (rc != ERROR_SUCCESS) {
    LogError("%s:  Key open failure! %ld \n", op, rc);
    LogErrorCode(rc);
    return rc;
  }
  LogDebug("%s:  Key found ...!: %ld\n", op, rc);
  LogDebug("%s:  After addRegistryKey method in %s method!!\n", op, op);

  rc = RegSetValueExW(key.get(), wideName.c_str(), 0, write.type, encoded.bytes.data(),
                      static_cast<DWORD>(encoded.bytes.size()));
  if (rc != ERROR_SUCCESS) {
    LogError("%s:  Function WriteValue failure!:%ld\n", op, rc);
    LogError("%s:    Subkey: %s \n", op, subkey ? subkey : "");
    LogError("%s:    Valuename: %S \n", op, wideName.c_str());
    if (!write.quiet) LogError("%s:    Valuedata: %S \n", op, wideData.c_str());
    LogError("%s:    Datatype: %lu \n", op, write.type);
    LogErrorCode(rc);
    return rc;
  }
  LogErrorCode(0);
  return ERROR_SUCCESS;
}

LONG WriteValueImpl(const ValueWrite& write) {
  const char* op = write.ex ? "writeValueEx" : "writeValue";
  const char* valueName = write.valueName;
  const char* data = write.data;
  LogDebug("@@@@@@@@ Inside %s Method @@@@@@@@ \n", op);
  if (!valueName || !data) {
    if (write.ex) {
      LogError("%s : Valuename or Valuedata is Empty \n", op);
    } else {
      LogInfo("%s : Valuename or Valuedata is Empty \n", op);
    }
    return 13;
  }
  LogDebug("%s: Subkey : %s \n", op, write.subkey ? write.subkey : "");
  LogDebug("%s: Value Name: %s \n", op, valueName);
  if (!write.quiet) LogDebug("%s: Value Data: %s \n", op, data);

  std::wstring wideName = ChangeUtf8ToWideStr(valueName);
  std::wstring wideData = ChangeUtf8ToWideStr(data);
  std::string utf8Data = data;
  if (strcmp(valueName, "--") == 0) {
    LogInfo("%s : going to add the (default) value .\n", op);
    wideName.clear();
  }
  if (strcmp(data, "--") == 0) {
    LogInfo("%s : going to add the value data as 0 value .\n", op);
    wideData.clear();
    utf8Data.clear();
  }

  EncodedValue encoded = EncodeRegistryData(wideData, utf8Data, write.type, write.ex);
  LogEncodedSize(op, write.type, write.ex, static_cast<int>(encoded.bytes.size()));
  LONG rc = StoreEncodedValue(write, op, wideName, wideData, encoded);
  if (rc != ERROR_SUCCESS) return rc;
  LogDebug("@@@@@@@@ End Of %s Method @@@@@@@@ \n", op);
  return ERROR_SUCCESS;
}

// A plain or quiet write; writeValueEx sets the Ex fields itself.
ValueWrite PlainWrite(HKEY root, const char* subkey, const char* valueName, const char* data, DWORD type) {
  ValueWrite write;
  write.root = root;
  write.subkey = subkey;
  write.valueName = valueName;
  write.data = data;
  write.type = type;
  return write;
}

LONG AddKeyImpl(HKEY root, const char* subkey, REGSAM view, const char* op) {
  LogDebug("%s: Inside addRegistryKey method ...... \n", op);
  UniqueHKey key;
  DWORD disposition = 0;
  LONG rc = RegCreateKeyExA(root, subkey ? subkey : "", 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS | view,
                            nullptr, key.put(), &disposition);
  if (rc != ERROR_SUCCESS) {
    LogError("%s:  Create registry key \"%s\" function failed: %ld \n", op, subkey ? subkey : "", rc);
    LogErrorCode(rc);
    return rc;
  }
  if (disposition == REG_OPENED_EXISTING_KEY) {
    LogDebug("%s:  Opened already existing key! \n", op);
  } else {
    LogDebug("%s:  Create registry key function successfull: %lu \n", op, disposition);
  }
  return ERROR_SUCCESS;
}

LONG DeleteValueImpl(HKEY root, const char* subkey, const char* valueName, REGSAM view, bool ex) {
  const char* op = ex ? "deleteValueEx" : "deleteValue";
  if (ex) {
    LogInfo("deleteValueEx: Inside function deleteValue ..... \n");
  } else {
    LogDebug("deleteValue: Inside function deleteValue ..... \n");
  }
  const char* name = valueName ? valueName : "";
  if (strcmp(name, "--") == 0) {
    if (ex) {
      LogInfo("deleteValueEx : going to delete the (default) value. \n");
    } else {
      LogInfo("deleteValue : going to delete the (default) value .\n");
    }
    name = "";
  }
  UniqueHKey key;
  LONG rc = RegOpenKeyExA(root, subkey, 0, KEY_ALL_ACCESS | view, key.put());
  if (rc != ERROR_SUCCESS) {
    LogError("%s:  %s Key not found!: %ld  \n", op, subkey ? subkey : "", rc);
    LogLastErrorText();
    return rc;
  }
  LogInfo("%s:  Key found ...!: %ld\n", op, rc);
  rc = RegDeleteValueA(key.get(), name);
  if (rc == ERROR_SUCCESS) {
    LogInfo("%s:  Delete value %s success! \n", op, name);
  } else {
    LogError("%s:  Delete value %s failure! \n", op, name);
    LogLastErrorText();
  }
  return rc;
}

}  // namespace

EncodedValue EncodeRegistryData(const std::wstring& wideData, const std::string& utf8Data, DWORD type, bool exRules) {
  EncodedValue out;
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      AppendWide(out.bytes, wideData);
      break;
    case REG_BINARY:
      if (exRules) {
        out.bytes.assign(utf8Data.begin(), utf8Data.end());
        out.bytes.push_back(0);
      } else {
        AppendWide(out.bytes, wideData);
      }
      break;
    case REG_DWORD:
      if (exRules) {
        AppendScalar<DWORD>(out.bytes, static_cast<DWORD>(strtoul(utf8Data.c_str(), nullptr, 10)));
      } else {
        // Signed long conversion: saturates at LONG_MAX / LONG_MIN.
        AppendScalar<DWORD>(out.bytes, static_cast<DWORD>(wcstol(wideData.c_str(), nullptr, 10)));
      }
      break;
    case REG_MULTI_SZ:
      if (exRules) {
        // Semicolons separate elements; a caret makes the next unit literal.
        std::wstring element;
        for (size_t i = 0; i < wideData.size(); ++i) {
          wchar_t c = wideData[i];
          if (c == L'^' && i + 1 < wideData.size()) {
            element.push_back(wideData[++i]);
          } else if (c == L';') {
            AppendWide(out.bytes, element);
            element.clear();
          } else {
            element.push_back(c);
          }
        }
        AppendWide(out.bytes, element);
        AppendUnit(out.bytes, L'\0');
      } else {
        AppendWide(out.bytes, wideData);
        AppendUnit(out.bytes, L'\0');
      }
      break;
    case REG_QWORD: {
      unsigned long long value = 0;
      for (wchar_t c : wideData) value = value * 10 + static_cast<unsigned long long>(c - L'0');
      AppendScalar<unsigned long long>(out.bytes, value);
      break;
    }
    default:
      // Types without an encoding of their own store the number the text reads as.
      AppendScalar<DWORD>(out.bytes, static_cast<DWORD>(wcstol(wideData.c_str(), nullptr, 10)));
      break;
  }
  return out;
}

LONG addRegistryKey(HKEY root, const char* subkey) { return AddKeyImpl(root, subkey, kDefaultView, "addRegistryKey"); }

LONG addRegistryKeyEx(HKEY root, const char* subkey, int is64) {
  return AddKeyImpl(root, subkey, ViewFlag(is64), "addRegistryKeyEx");
}

LONG deleteRegistryKey(HKEY root, const char* subkey) {
  if (!subkey || !*subkey) {
    LogError("deleteRegistryKey  : Failed! As subKey is Null or empty ");
    return ERROR_FILE_NOT_FOUND;
  }
  // SHDeleteKey has no view parameter; open the parent in our view first.
  std::string path = subkey;
  size_t cut = path.find_last_of('\\');
  std::string parent = cut == std::string::npos ? std::string() : path.substr(0, cut);
  std::string leaf = cut == std::string::npos ? path : path.substr(cut + 1);
  UniqueHKey parentKey;
  LONG rc = RegOpenKeyExA(root, parent.c_str(), 0, KEY_ALL_ACCESS | kDefaultView, parentKey.put());
  if (rc == ERROR_SUCCESS) rc = static_cast<LONG>(SHDeleteKeyA(parentKey.get(), leaf.c_str()));
  if (rc == ERROR_SUCCESS) {
    LogInfo("deleteRegistryKey:  Key successfull deleted!: %ld\n", rc);
  } else {
    LogError("deleteRegistryKey:  Key deletion failure!: %ld\n", rc);
  }
  return rc;
}

LONG writeValue(HKEY root, const char* subkey, const char* valueName, const char* data, DWORD type) {
  return WriteValueImpl(PlainWrite(root, subkey, valueName, data, type));
}

LONG writeValueEx(HKEY root, const char* subkey, const char* valueName, const char* data, DWORD type, int is64) {
  ValueWrite write = PlainWrite(root, subkey, valueName, data, type);
  write.ex = true;
  write.is64 = is64;
  return WriteValueImpl(write);
}

LONG writeValueQuiet(HKEY root, const char* subkey, const char* valueName, const char* data, DWORD type) {
  ValueWrite write = PlainWrite(root, subkey, valueName, data, type);
  write.quiet = true;
  return WriteValueImpl(write);
}

LONG deleteValue(HKEY root, const char* subkey, const char* valueName) {
  return DeleteValueImpl(root, subkey, valueName, kDefaultView, false);
}

LONG deleteValue(HKEY root, const wchar_t* subkey, const wchar_t* valueName) {
  LogDebug("deleteValue: Inside function deleteValue ..... subkey : %S, Valuename : %S \n", subkey ? subkey : L"",
           valueName ? valueName : L"");
  // The wide form honours "--" like the narrow one.
  const wchar_t* name = valueName ? valueName : L"";
  if (wcscmp(name, L"--") == 0) {
    LogInfo("deleteValue : going to delete the (default) value .\n");
    name = L"";
  }
  UniqueHKey key;
  LONG rc = RegOpenKeyExW(root, subkey, 0, KEY_ALL_ACCESS | kDefaultView, key.put());
  if (rc != ERROR_SUCCESS) {
    LogError("deleteValue:  %S Key not found!: %ld  \n", subkey ? subkey : L"", rc);
    LogLastErrorText();
    return rc;
  }
  LogInfo("deleteValue:  Key found ...!: %ld\n", rc);
  rc = RegDeleteValueW(key.get(), name);
  if (rc == ERROR_SUCCESS) {
    LogInfo("deleteValue:  Delete value %S success! \n", name);
  } else {
    LogError("deleteValue:  Delete value %S failure! \n", name);
    LogLastErrorText();
  }
  return rc;
}

LONG deleteValueEx(HKEY root, const char* subkey, const char* valueName, int is64) {
  return DeleteValueImpl(root, subkey, valueName, ViewFlag(is64), true);
}

LONG ReadDwordRegistryData(HKEY root, const char* subkey, const char* valueName, DWORD* out) {
  UniqueHKey key;
  LONG rc = RegOpenKeyExA(root, subkey, 0, KEY_QUERY_VALUE | kDefaultView, key.put());
  if (rc == ERROR_FILE_NOT_FOUND) {
    LogDebug("ReadDwordRegistryData:  value  %s Not found: %ld \n", valueName ? valueName : "", rc);
    return rc;
  }
  if (rc != ERROR_SUCCESS) {
    LogError("ReadDwordRegistryData: Error while opening registry key %s,and the errorcode is : %ld \n",
             subkey ? subkey : "", rc);
    return rc;
  }
  DWORD value = 0;
  DWORD size = sizeof(value);
  rc = RegQueryValueExA(key.get(), valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
  if (rc == ERROR_FILE_NOT_FOUND) {
    LogDebug("ReadDwordRegistryData:  value  %s Not found: %ld \n", valueName ? valueName : "", rc);
  } else if (rc != ERROR_SUCCESS) {
    LogError("ReadDwordRegistryData: Error while reading DWORD value of %s : %ld \n", valueName ? valueName : "", rc);
  } else if (out) {
    *out = value;
  }
  return rc;
}

LONG ReadDwordRegistryDataEx(HKEY root, const char* subkey, const char* valueName, DWORD* out, int is64) {
  UniqueHKey key;
  LONG rc = RegOpenKeyExA(root, subkey, 0, KEY_QUERY_VALUE | ViewFlag(is64), key.put());
  DWORD value = 0;
  if (rc == ERROR_SUCCESS) {
    DWORD size = sizeof(value);
    rc = RegQueryValueExA(key.get(), valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
  }
  if (rc != ERROR_SUCCESS) {
    LogError("ReadDwordRegistryDataEx: Error while opening registry key %s,and the errorcode is : %ld \n",
             subkey ? subkey : "", rc);
    return rc;
  }
  if (out) *out = value;
  return rc;
}

LONG ReadRegSZ(HKEY root, const char* subkey, const char* valueName, std::string* out) {
  if (out) out->clear();
  UniqueHKey key;
  LONG rc = RegOpenKeyExA(root, subkey, 0, KEY_QUERY_VALUE | kDefaultView, key.put());
  if (rc != ERROR_SUCCESS) {
    LogError("ReadRegSZ: Error while opening registry key %s ,and the error is  %ld \n", subkey ? subkey : "", rc);
    return rc;
  }
  std::wstring wideName = ChangeUtf8ToWideStr(valueName ? valueName : "");
  DWORD size = 0;
  rc = RegQueryValueExW(key.get(), wideName.c_str(), nullptr, nullptr, nullptr, &size);
  if (rc != ERROR_SUCCESS) return rc;
  std::vector<BYTE> buffer(size + 5, 0);
  rc = RegQueryValueExW(key.get(), wideName.c_str(), nullptr, nullptr, buffer.data(), &size);
  if (rc != ERROR_SUCCESS) {
    LogError("ReadRegSZ: Error while reading DWORD value! %ld \n", rc);
    buffer.assign(buffer.size(), 0);
  }
  // The buffer has spare zero bytes, so it always ends with a terminator.
  std::wstring text(reinterpret_cast<const wchar_t*>(buffer.data()), (buffer.size() - 1) / sizeof(wchar_t));
  text.resize(wcslen(text.c_str()));
  if (out) *out = ChangeWideToUtf8Str(text.c_str());
  return rc;
}

LONG ReadRegSZEx(HKEY root, const char* subkey, const char* valueName, std::string* out, int is64) {
  if (out) out->clear();
  UniqueHKey key;
  LONG rc = RegOpenKeyExA(root, subkey, 0, KEY_QUERY_VALUE | ViewFlag(is64), key.put());
  if (rc != ERROR_SUCCESS) {
    LogError("ReadRegSZEx: Error while opening registry key for %s and error %ld \n", subkey ? subkey : "", rc);
    return rc;
  }
  DWORD size = 0;
  rc = RegQueryValueExA(key.get(), valueName, nullptr, nullptr, nullptr, &size);
  if (rc != ERROR_SUCCESS) return rc;
  std::vector<char> buffer(size + 5, 0);
  rc = RegQueryValueExA(key.get(), valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()), &size);
  if (rc != ERROR_SUCCESS) {
    LogError("ReadRegSZEx: Error while reading DWORD value %s! %ld \n", valueName ? valueName : "", rc);
    return rc;
  }
  // The stored bytes as they are: a multi-string keeps every element.
  if (out) out->assign(buffer.data(), size);
  return rc;
}

LONG ReadRegSZEx(HKEY root, const wchar_t* subkey, const wchar_t* valueName, std::wstring* out) {
  if (out) out->clear();
  UniqueHKey key;
  LONG rc = RegOpenKeyExW(root, subkey, 0, KEY_QUERY_VALUE | kDefaultView, key.put());
  if (rc != ERROR_SUCCESS) {
    LogError("ReadRegSZEx: Error while opening registry key : %S \n", valueName ? valueName : L"");
    return rc;
  }
  DWORD size = 0;
  rc = RegQueryValueExW(key.get(), valueName, nullptr, nullptr, nullptr, &size);
  if (rc != ERROR_SUCCESS) return rc;
  std::vector<BYTE> buffer(size + 5, 0);
  rc = RegQueryValueExW(key.get(), valueName, nullptr, nullptr, buffer.data(), &size);
  if (rc != ERROR_SUCCESS) {
    LogError("ReadRegSZEx: Error while reading DWORD value! %ld \n", rc);
    return rc;
  }
  if (out) out->assign(reinterpret_cast<const wchar_t*>(buffer.data()), size / sizeof(wchar_t));
  return rc;
}

int DeleteRegistryKeyTree(HKEY root, const char* subkey) {
  if (!subkey || !*subkey) return 0;
  UniqueHKey key;
  if (RegOpenKeyExA(root, subkey, 0, KEY_ALL_ACCESS | kDefaultView, key.put()) != ERROR_SUCCESS) return 0;
  char name[260];
  for (;;) {
    DWORD length = sizeof(name);
    LONG rc = RegEnumKeyExA(key.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) return 0;
    std::string child = std::string(subkey) + "\\" + name;
    if (!DeleteRegistryKeyTree(root, child.c_str())) return 0;
  }
  key.reset();
  return RegDeleteKeyExA(root, subkey, kDefaultView, 0) == ERROR_SUCCESS ? 1 : 0;
}

LONG ReadViewDword(const char* subkey, const char* valueName, DWORD* out, int is64) {
  std::wstring wideSubkey = ChangeUtf8ToWideStr(subkey ? subkey : "");
  std::wstring wideName = ChangeUtf8ToWideStr(valueName ? valueName : "");
  UniqueHKey key;
  LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, wideSubkey.c_str(), 0,
                          KEY_READ | (is64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY), key.put());
  if (rc != ERROR_SUCCESS) return rc;
  DWORD type = 0;
  DWORD value = 0;
  DWORD size = sizeof(value);
  rc = RegQueryValueExW(key.get(), wideName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  // A value of another type is refused the same way whatever its length.
  if (rc == ERROR_MORE_DATA && type != REG_DWORD) return ERROR_INVALID_DATA;
  if (rc != ERROR_SUCCESS) return rc;
  if (out) *out = value;
  return type == REG_DWORD ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

LONG CheckViewStringData(DWORD type, const BYTE* data, DWORD size) {
  if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
  if (size == 0 || size % sizeof(wchar_t) != 0) return ERROR_INVALID_DATA;
  wchar_t last = 0;
  memcpy(&last, data + size - sizeof(wchar_t), sizeof(wchar_t));
  return last == L'\0' ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

LONG ReadViewString(const char* subkey, const char* valueName, std::string* out, int is64) {
  std::wstring wideSubkey = ChangeUtf8ToWideStr(subkey ? subkey : "");
  std::wstring wideName = ChangeUtf8ToWideStr(valueName ? valueName : "");
  UniqueHKey key;
  LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, wideSubkey.c_str(), 0,
                          KEY_READ | (is64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY), key.put());
  if (rc != ERROR_SUCCESS) return rc;
  const DWORD kMaxUnits = 2048;
  std::vector<wchar_t> buffer(kMaxUnits, 0);
  DWORD type = 0;
  DWORD size = kMaxUnits * sizeof(wchar_t);
  rc = RegQueryValueExW(key.get(), wideName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
  if (rc != ERROR_SUCCESS) return rc;
  rc = CheckViewStringData(type, reinterpret_cast<const BYTE*>(buffer.data()), size);
  if (rc != ERROR_SUCCESS) return rc;
  if (out) *out = ChangeWideToUtf8Str(buffer.data());
  return ERROR_SUCCESS;
}
