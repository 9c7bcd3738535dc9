// What the agent tells its server about this machine: computer name, first
// IPv4 address with its MAC address and mask, the logon server, and the name
// space (domain or workgroup) the server files the machine under.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <dsgetdc.h>
#include <lm.h>

#include <cstdio>
#include <vector>

#include "agent/agent_parameters.h"
#include "log/agent_log.h"
#include "util/handles.h"
#include "util/text.h"

namespace {

std::string FormatMac(const BYTE* address, UINT length) {
  std::string mac;
  for (UINT i = 0; i < length; ++i) {
    char part[4];
    snprintf(part, sizeof(part), i ? "-%02X" : "%02X", address[i]);
    mac += part;
  }
  return mac;
}

std::string FormatIpv4(DWORD networkOrder) {
  const BYTE* b = reinterpret_cast<const BYTE*>(&networkOrder);
  char text[16];
  snprintf(text, sizeof(text), "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  return text;
}

struct AdapterDetails {
  std::string ip;
  std::string mac;
  std::string mask;
};

bool UsableIpv4(const std::string& ip) {
  return !ip.empty() && ip != "0.0.0.0" && ip.compare(0, 4, "127.") != 0;
}

// The first adapter with a usable IPv4 address, through the older call that
// gives address, mask and MAC in one record.
bool AdapterFromAdaptersInfo(AdapterDetails* out) {
  ULONG size = 0;
  if (GetAdaptersInfo(nullptr, &size) != ERROR_BUFFER_OVERFLOW || size == 0) return false;
  std::vector<BYTE> buffer(size);
  PIP_ADAPTER_INFO adapters = reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data());
  if (GetAdaptersInfo(adapters, &size) != ERROR_SUCCESS) return false;
  for (PIP_ADAPTER_INFO adapter = adapters; adapter; adapter = adapter->Next) {
    for (PIP_ADDR_STRING ip = &adapter->IpAddressList; ip; ip = ip->Next) {
      if (!UsableIpv4(ip->IpAddress.String)) continue;
      out->ip = ip->IpAddress.String;
      out->mask = ip->IpMask.String;
      out->mac = FormatMac(adapter->Address, adapter->AddressLength);
      return true;
    }
  }
  return false;
}

// The same through the newer call, for systems where the older one lists
// nothing.
bool AdapterFromAdaptersAddresses(AdapterDetails* out) {
  const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  ULONG size = 16 * 1024;
  std::vector<BYTE> buffer;
  ULONG rc = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 3 && rc == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size);
    rc = GetAdaptersAddresses(AF_INET, flags, nullptr, reinterpret_cast<PIP_ADAPTER_ADDRESSES>(buffer.data()), &size);
  }
  if (rc != ERROR_SUCCESS) return false;
  for (auto adapter = reinterpret_cast<PIP_ADAPTER_ADDRESSES>(buffer.data()); adapter; adapter = adapter->Next) {
    if (adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK || adapter->OperStatus != IfOperStatusUp) continue;
    for (auto unicast = adapter->FirstUnicastAddress; unicast; unicast = unicast->Next) {
      const sockaddr* address = unicast->Address.lpSockaddr;
      if (!address || address->sa_family != AF_INET) continue;
      std::string ip = FormatIpv4(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr);
      if (!UsableIpv4(ip)) continue;
      ULONG prefix = unicast->OnLinkPrefixLength > 32 ? 32 : unicast->OnLinkPrefixLength;
      DWORD hostOrderMask = prefix == 0 ? 0 : 0xFFFFFFFFu << (32 - prefix);
      out->ip = ip;
      out->mask = FormatIpv4(htonl(hostOrderMask));
      out->mac = FormatMac(adapter->PhysicalAddress, adapter->PhysicalAddressLength);
      return true;
    }
  }
  return false;
}

std::string WideLowerToUtf8(std::wstring text) {
  if (!text.empty()) CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
  return ChangeWideToUtf8Str(text.c_str());
}

std::wstring ComputerNameEx(COMPUTER_NAME_FORMAT format) {
  DWORD size = 0;
  GetComputerNameExW(format, nullptr, &size);
  if (size == 0) return std::wstring();
  std::wstring text(size, L'\0');
  if (!GetComputerNameExW(format, &text[0], &size)) return std::wstring();
  text.resize(size);
  return text;
}

struct JoinInfo {
  std::wstring name;
  NETSETUP_JOIN_STATUS status = NetSetupUnknownStatus;
};

JoinInfo QueryJoinInfo() {
  JoinInfo info;
  NetApiBuffer name;
  if (NetGetJoinInformation(nullptr, name.PutAs<wchar_t>(), &info.status) == NERR_Success && name) {
    info.name = name.As<wchar_t>();
  }
  return info;
}

// A domain member asks for its domain controller; anything else has only the
// logon server of its session, if any.
std::string FindLogonServer(const JoinInfo& join) {
  if (join.status == NetSetupDomainName) {
    NetApiBuffer info;
    if (DsGetDcNameW(nullptr, nullptr, nullptr, nullptr, DS_RETURN_FLAT_NAME, info.PutAs<DOMAIN_CONTROLLER_INFOW>()) ==
            ERROR_SUCCESS &&
        info) {
      const wchar_t* controller = info.As<DOMAIN_CONTROLLER_INFOW>()->DomainControllerName;
      std::wstring dc = controller ? controller : L"";
      while (!dc.empty() && dc[0] == L'\\') dc.erase(0, 1);
      if (!dc.empty()) return ChangeWideToUtf8Str(dc.c_str());
    }
  }
  wchar_t buffer[MAX_PATH] = L"";
  DWORD length = GetEnvironmentVariableW(L"LOGONSERVER", buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::string();
  std::wstring server = buffer;
  while (!server.empty() && server[0] == L'\\') server.erase(0, 1);
  return ChangeWideToUtf8Str(server.c_str());
}

// The DNS domain when the machine has one; otherwise the workgroup or
// NetBIOS domain it is joined to, so a machine outside any domain still gets
// a name space.
std::wstring FindNamespace(const JoinInfo& join) {
  std::wstring dnsDomain = ComputerNameEx(ComputerNameDnsDomain);
  if (!dnsDomain.empty()) return dnsDomain;
  if (!join.name.empty()) return join.name;
  NetApiBuffer raw;
  std::wstring group;
  if (NetWkstaGetInfo(nullptr, 100, raw.PutAs<BYTE>()) == NERR_Success && raw) {
    const WKSTA_INFO_100* info = raw.As<WKSTA_INFO_100>();
    if (info->wki100_langroup) group = info->wki100_langroup;
  }
  return group;
}

}  // namespace

int InitializeLocalMachineDetails(AgentParameters* out) {
  const char* op = "InitializeLocalMachineDetails";
  AgentParameters& params = *out;

  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = L"";
  DWORD nameLength = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(name, &nameLength) || nameLength == 0) {
    LogError("%s : Unable to get the local computer name \n", op);
    LogErrorCode(static_cast<long>(GetLastError()));
    return 13;
  }
  params.gv_localComputerName = ChangeWideToUtf8Str(name);

  AdapterDetails adapter;
  if (AdapterFromAdaptersInfo(&adapter) || AdapterFromAdaptersAddresses(&adapter)) {
    params.localIPAddress = adapter.ip;
    params.localMACAddress = adapter.mac;
    params.localSubnetMask = adapter.mask;
  } else {
    LogError("%s : Unable to get the IP address, MAC address and subnet mask of the local machine \n", op);
  }

  JoinInfo join = QueryJoinInfo();
  params.logonServer = FindLogonServer(join);
  if (params.logonServer.empty()) LogError("%s : Unable to get the logon server of the local machine \n", op);

  params.clientNamespace = WideLowerToUtf8(FindNamespace(join));
  if (params.clientNamespace.empty()) {
    LogError("%s : Unable to get the domain or workgroup name of the local machine \n", op);
    return 13;
  }
  return 0;
}
