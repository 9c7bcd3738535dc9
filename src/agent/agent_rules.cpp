// The decisions of agent start-up that need no registry or system call: port
// and protocol rules, the transfer-rate limit, the closed network, the DS
// last-access check and the Windows family table.
#include <cstdlib>

#include "agent/agent_parameters.h"
#include "util/text.h"

std::string ProtocolOrHttp(const OptionalText& value) {
  // Anything shorter than "http" cannot be a protocol name.
  if (!value || value->size() < 4) return "http";
  return *value;
}

int EffectivePort(const std::string& protocol, int plainPort, int securePort) {
  return EqualsNoCase(protocol, "http") ? plainPort : securePort;
}

int SecurePortOr363(const OptionalText& value, int plainPort) {
  if (!value) return plainPort + 363;
  return AtoiLike(value->c_str());
}

OptionalText DropShortAddress(const OptionalText& value, size_t maxIgnoredLength) {
  if (!value || value->size() <= maxIgnoredLength) return std::nullopt;
  return value;
}

TransferRateDecision DecideTransferRate(const OptionalText& value) {
  TransferRateDecision decision;
  if (!value || value->empty()) {
    decision.writeBack = true;
    return decision;
  }
  // The limit is compared unsigned, so a negative text such as "-5" is far
  // above it and switches the limit off like any other out-of-range value.
  unsigned rate = static_cast<unsigned>(AtoiLike(value->c_str()));
  if (rate > 8192) {
    decision.writeBack = true;
    return decision;
  }
  decision.rate = rate;
  return decision;
}

ClosedNetworkDecision DecideClosedNetwork(const OptionalText& isDSRouteEnabled, const OptionalText& isDSOnlyRouteEnabled,
                                          const OptionalText& agentRouteEnabled) {
  if (isDSRouteEnabled && EqualsNoCase(*isDSRouteEnabled, "true")) {
    return {true, "IsDSRouteEnabled key set as true, Hence the Closed Network was enabled in this machine \n"};
  }
  if (isDSOnlyRouteEnabled && EqualsNoCase(*isDSOnlyRouteEnabled, "true")) {
    if (agentRouteEnabled && EqualsNoCase(*agentRouteEnabled, "true")) {
      return {true,
              "IsDSOnlyRouteEnabled key set as true and AGENT_ROUTE_ENABLED key set as true, Hence the Closed Network "
              "was enabled in this machine \n"};
    }
    return {false,
            "IsDSOnlyRouteEnabled key set as true and AGENT_ROUTE_ENABLED key set as false, Hence the Closed Network "
            "was disabled in this machine \n"};
  }
  return {false, "The Closed Network was disabled in this machine \n"};
}

bool DSLastAccessNeedsRepair(const DistributionEndpoint& ds) {
  if (!ds.DistributionLastAccessName) return false;
  const std::string& last = *ds.DistributionLastAccessName;
  auto matches = [&last](const OptionalText& candidate) {
    return candidate && EqualsNoCase(last, candidate->c_str());
  };
  if (matches(ds.DistributionServerIPAddress)) return false;
  if (EqualsNoCase(last, ds.DistributionServerName.c_str())) return false;
  if (matches(ds.DistributionServerFlatName)) return false;
  if (matches(ds.DistributionServerSecIPAddress)) return false;
  return true;
}

unsigned OsFamilyFromVersion(DWORD platformId, DWORD major, DWORD minor) {
  if (platformId != VER_PLATFORM_WIN32_NT || major <= 4) return 0xFFFFFFFFu;
  if (major == 5) return minor == 0 ? 0 : 1;
  if (major == 6) {
    switch (minor) {
      case 0: return 2;
      case 1: return 3;
      case 2: return 4;
      case 3: return 5;
      default: return 7;
    }
  }
  if (major == 10 && minor == 0) return 6;
  return 7;
}
