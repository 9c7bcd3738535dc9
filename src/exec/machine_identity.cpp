#include "exec/machine_identity.h"

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wbemidl.h>

#include "log/agent_log.h"
#include "util/handles.h"
#include "util/text.h"

namespace {

// COM in the multithreaded apartment for the length of one query. An
// initialisation the calling thread already holds is released first, so the
// query can always enter the multithreaded apartment, whatever the caller set
// up before.
class ComScope {
 public:
  ComScope() {
    CoUninitialize();
    hr_ = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  }
  ~ComScope() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
  HRESULT result() const { return hr_; }

 private:
  HRESULT hr_;
};

const size_t kMaxValueChars = 259;

const wchar_t* const kServiceTagSources[][2] = {
    {L"SELECT * FROM Win32_ComputerSystemProduct", L"IdentifyingNumber"},
    {L"SELECT * FROM Win32_Bios", L"SerialNumber"},
    {L"SELECT * FROM Win32_SystemEnclosure", L"SerialNumber"},
    {L"SELECT * FROM Win32_BaseBoard", L"SerialNumber"},
};

}  // namespace

namespace {

// Creates the locator and connects it to root\cimv2 with the proxy security
// the queries need. Both stay with the caller, released in its order.
HRESULT ConnectToCimv2(ComPtr<IWbemLocator>* locator, ComPtr<IWbemServices>* services) {
  HRESULT hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                reinterpret_cast<void**>(locator->put()));
  if (FAILED(hr)) {
    LogError("GetValuesUsingWMIQuery : Failed to create IWbemLocator object. Err code = 0x%x \n",
             static_cast<unsigned>(hr));
    return hr;
  }
  UniqueBstr ns(SysAllocString(L"root\\cimv2"));
  hr = (*locator)->ConnectServer(ns.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, services->put());
  if (FAILED(hr)) {
    LogError("GetValuesUsingWMIQuery :Could not connect. Error code = 0x%x \n", static_cast<unsigned>(hr));
    return hr;
  }
  LogInfo("GetValuesUsingWMIQuery : Connected to ROOT\\CIMV2 WMI namespace \n");
  hr = CoSetProxyBlanket(services->get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                         RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
  if (FAILED(hr)) {
    LogError("GetValuesUsingWMIQuery :Could not set proxy blanket. Error code = 0x%x \n", static_cast<unsigned>(hr));
  }
  return hr;
}

// Reads the property of every object the query returns; the last object's
// text is the value. S_OK also when no object answers.
HRESULT ReadEveryObject(IEnumWbemClassObject* objects, const wchar_t* property, std::optional<std::wstring>* value) {
  HRESULT hr = S_OK;
  for (;;) {
    ComPtr<IWbemClassObject> object;
    ULONG returned = 0;
    HRESULT next = objects->Next(WBEM_INFINITE, 1, object.put(), &returned);
    if (FAILED(next)) return next;
    if (returned == 0) break;
    UniqueVariant property_value;
    HRESULT got = object->Get(property ? property : L"", 0, property_value.put(), nullptr, nullptr);
    if (SUCCEEDED(got) && (property_value.get()->vt == VT_NULL || property_value.get()->vt == VT_EMPTY)) {
      // The object answered, without a value: a success with no text.
      hr = S_OK;
      continue;
    }
    if (SUCCEEDED(got)) got = VariantChangeType(property_value.get(), property_value.get(), 0, VT_BSTR);
    if (FAILED(got)) {
      // A missing property gives no text for this object.
      if (!value || !*value) hr = got;
      continue;
    }
    std::wstring text = property_value.get()->bstrVal ? property_value.get()->bstrVal : L"";
    if (text.size() > kMaxValueChars) text.resize(kMaxValueChars);
    LogInfo("GetValuesUsingWMIQuery : The required Value is given by : %S \n", text.c_str());
    if (value) *value = text;
    hr = S_OK;
  }
  return hr;
}

}  // namespace

long GetValuesUsingWMIQuery(std::optional<std::wstring>* value, const wchar_t* query, const wchar_t* property) {
  ComScope com;
  HRESULT hr = com.result();
  if (FAILED(hr)) {
    LogError("GetValuesUsingWMIQuery : Failed to initialize COM library. Error code = 0x%x \n",
             static_cast<unsigned>(hr));
    return hr;
  }
  {
    ComPtr<IWbemLocator> locator;
    ComPtr<IWbemServices> services;
    hr = ConnectToCimv2(&locator, &services);
    if (FAILED(hr)) return hr;
    ComPtr<IEnumWbemClassObject> objects;
    UniqueBstr language(SysAllocString(L"WQL"));
    UniqueBstr queryText(SysAllocString(query ? query : L""));
    hr = services->ExecQuery(language.get(), queryText.get(), WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                             nullptr, objects.put());
    if (FAILED(hr)) {
      LogError("GetValuesUsingWMIQuery : Query for the required wmi class is failed . Error code = 0x%x \n",
               static_cast<unsigned>(hr));
      return hr;
    }
    hr = ReadEveryObject(objects.get(), property, value);
    LogDebug("GetValuesUsingWMIQuery : Going to clean the allocated resources .\n");
  }
  return hr;
}

long GetLocalMachineUUID(std::string* uuid) {
  std::optional<std::wstring> value;
  long code = GetValuesUsingWMIQuery(&value, L"SELECT * FROM Win32_ComputerSystemProduct", L"UUID");
  std::string text = value ? ChangeWideToUtf8Str(value->c_str()) : std::string();
  LogInfo("GetLocalMachineUUID : The local Machine UUID is given by %s \n", text.c_str());
  if (uuid) *uuid = text;
  return code;
}

ServiceTagChoice ChooseServiceTag(const std::vector<WmiQueryOutcome>& outcomes) {
  ServiceTagChoice choice;
  for (size_t i = 0; i < outcomes.size(); ++i) {
    choice.code = outcomes[i].code;
    if (outcomes[i].value && !outcomes[i].value->empty()) {
      choice.value = *outcomes[i].value;
      choice.source = static_cast<int>(i);
      return choice;
    }
  }
  return choice;
}

long GetLocalMachineServiceTag(std::string* serviceTag) {
  std::vector<WmiQueryOutcome> outcomes;
  for (const auto& source : kServiceTagSources) {
    WmiQueryOutcome outcome;
    outcome.code = GetValuesUsingWMIQuery(&outcome.value, source[0], source[1]);
    outcomes.push_back(outcome);
    if (outcome.value && !outcome.value->empty()) break;
  }
  ServiceTagChoice choice = ChooseServiceTag(outcomes);
  std::string text = ChangeWideToUtf8Str(choice.value.c_str());
  LogInfo("GetLocalMachineServiceTag : The local Machine Service Tag is given by %s \n", text.c_str());
  if (serviceTag) *serviceTag = text;
  return choice.code;
}
