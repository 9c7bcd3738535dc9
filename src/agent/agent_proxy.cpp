// The agent proxy: its registry group, the stored password's encoding, the
// key-container check that precedes it, and the hook that restarts the
// agent's on-demand process when the proxy changes.
#include <windows.h>
#include <wincrypt.h>

#include <mutex>
#include <vector>

#include "agent/agent_parameters.h"
#include "agent/agent_reading.h"
#include "agent/registry.h"
#include "log/agent_log.h"
#include "util/handles.h"
#include "util/registry_paths.h"
#include "util/text.h"

namespace {

std::mutex g_hookMutex;
std::function<void()> g_proxyChangeHook;

// Opens the key and creates it when the container lacks it.
bool EnsureKey(HCRYPTPROV provider, DWORD keySpec) {
  UniqueCryptKey key;
  if (CryptGetUserKey(provider, keySpec, key.put())) return true;
  if (GetLastError() != static_cast<DWORD>(NTE_NO_KEY)) return false;
  return CryptGenKey(provider, keySpec, 0, key.put()) != 0;
}

}  // namespace

namespace agent_reading {

bool EnsureCryptoKeyContainer() {
  UniqueCryptProv provider;
  BOOL acquired = CryptAcquireContextA(provider.put(), nullptr, MS_DEF_PROV_A, PROV_RSA_FULL, 0);
  if (!acquired && GetLastError() == static_cast<DWORD>(NTE_BAD_KEYSET)) {
    acquired = CryptAcquireContextA(provider.put(), nullptr, MS_DEF_PROV_A, PROV_RSA_FULL, CRYPT_NEWKEYSET);
  }
  bool ok = acquired && EnsureKey(provider.get(), AT_SIGNATURE) && EnsureKey(provider.get(), AT_KEYEXCHANGE);
  LogInfo(ok ? "Cryptographic client Ok\r\n" : "Cryptographic client error\r\n");
  return ok;
}

int ReadProxyDetails(AgentParameters& params) {
  const char* reader = "InitializeProxyDetails";
  EnsureCryptoKeyContainer();

  params.ProxyServerName = ReadLoggedText(reader, params.agentKey.c_str(), "ProxyServerName").value_or("");
  params.ProxyUserName = ReadLoggedText(reader, params.agentKey.c_str(), "ProxyUserName").value_or("");

  // ProxyPassword holds the Base64 text of the UTF-8 password (see
  // DecodeProxyPassword); the record keeps the decoded password.
  OptionalText stored = ReadText(params.agentKey.c_str(), "ProxyPassword");
  params.ProxyPassword.clear();
  if (stored && !stored->empty()) {
    params.ProxyPassword = DecodeProxyPassword(*stored);
    if (params.ProxyPassword.empty()) LogError("%s : The stored proxy password cannot be decoded \n", reader);
  }

  OptionalText bypass = ReadText(params.agentKey.c_str(), "ProxyByPass");
  if (bypass) params.ProxyByPass = *bypass;
  // The agent writes "<local>" when the administrator gave no bypass list;
  // requests then get an empty list.
  if (params.ProxyByPass == "<local>") params.ProxyByPass.clear();

  OptionalText autoDetect = ReadLoggedText(reader, params.agentKey.c_str(), "IsAutoProxyDetectionEnabled");
  params.IsAutoProxyDetectionEnabled = autoDetect && EqualsNoCase(*autoDetect, "true") ? 1 : 0;

  return 0;
}

void OnProxyDetailsChanged(const std::string& serviceName) {
  LogInfo("AgentSendRequest: Restarting ondemand exe since Proxy connection details changed \n");
  SendAgentServiceMessage(serviceName, kRestartOnDemandServiceMessage);
}

}  // namespace agent_reading

std::string DecodeProxyPassword(const std::string& stored) {
  if (stored.empty()) return std::string();
  DWORD size = 0;
  if (!CryptStringToBinaryA(stored.c_str(), static_cast<DWORD>(stored.size()), CRYPT_STRING_BASE64, nullptr, &size,
                            nullptr, nullptr)) {
    return std::string();
  }
  std::vector<BYTE> bytes(size);
  if (!CryptStringToBinaryA(stored.c_str(), static_cast<DWORD>(stored.size()), CRYPT_STRING_BASE64, bytes.data(),
                            &size, nullptr, nullptr)) {
    return std::string();
  }
  return std::string(reinterpret_cast<const char*>(bytes.data()), size);
}

std::string EncodeProxyPassword(const std::string& password) {
  if (password.empty()) return std::string();
  const BYTE* data = reinterpret_cast<const BYTE*>(password.data());
  DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
  DWORD size = 0;
  if (!CryptBinaryToStringA(data, static_cast<DWORD>(password.size()), flags, nullptr, &size)) return std::string();
  std::string text(size, '\0');
  if (!CryptBinaryToStringA(data, static_cast<DWORD>(password.size()), flags, &text[0], &size)) return std::string();
  text.resize(size);
  while (!text.empty() && (text.back() == '\0' || text.back() == '\r' || text.back() == '\n')) text.pop_back();
  return text;
}

void RegisterProxyChangeHook(std::function<void()> hook) {
  std::lock_guard<std::mutex> lock(g_hookMutex);
  g_proxyChangeHook = std::move(hook);
}

void NotifyProxyDetailsChanged() {
  std::function<void()> hook;
  {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    hook = g_proxyChangeHook;
  }
  if (hook) hook();
}

DWORD SendAgentServiceMessage(const std::string& serviceName, DWORD controlCode) {
  const char* op = "SendAgentServiceMessage";
  if (serviceName.empty()) {
    LogError("%s : No agent service name to send the message %lu to \n", op, static_cast<unsigned long>(controlCode));
    return ERROR_INVALID_PARAMETER;
  }
  UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    DWORD error = GetLastError();
    LogError("%s : Unable to open the service control manager, error %lu \n", op, static_cast<unsigned long>(error));
    LogErrorCode(static_cast<long>(error));
    return error ? error : ERROR_GEN_FAILURE;
  }
  std::wstring wideName = ChangeUtf8ToWideStr(serviceName.c_str());
  UniqueServiceHandle service(OpenServiceW(manager.get(), wideName.c_str(), SERVICE_USER_DEFINED_CONTROL));
  if (!service) {
    DWORD error = GetLastError();
    LogError("%s : Unable to open the service %s, error %lu \n", op, serviceName.c_str(),
             static_cast<unsigned long>(error));
    LogErrorCode(static_cast<long>(error));
    return error ? error : ERROR_GEN_FAILURE;
  }
  SERVICE_STATUS status;
  ZeroMemory(&status, sizeof(status));
  if (!ControlService(service.get(), controlCode, &status)) {
    DWORD error = GetLastError();
    LogError("%s : The service %s refused the message %lu, error %lu \n", op, serviceName.c_str(),
             static_cast<unsigned long>(controlCode), static_cast<unsigned long>(error));
    LogErrorCode(static_cast<long>(error));
    return error ? error : ERROR_GEN_FAILURE;
  }
  LogInfo("%s : The message %lu was sent to the service %s \n", op, static_cast<unsigned long>(controlCode),
          serviceName.c_str());
  return 0;
}
