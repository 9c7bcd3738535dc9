// Agent start-up: the pure rules as tables, then the real start-up over a
// seeded agent registry, checking the record, the repaired registry values
// and the log.
#include "agent/agent_parameters.h"

#include <gtest/gtest.h>

#include "agent/registry.h"
#include "log/agent_log.h"
#include "support/test_support.h"
#include "util/registry_paths.h"

using namespace testing_support;

namespace {

OptionalText T(const char* text) { return std::string(text); }
const OptionalText kMissing = std::nullopt;

}  // namespace

TEST(AgentRules, ProtocolAndPorts) {
  struct Case {
    OptionalText protocol;
    OptionalText securePort;
    int plainPort;
    const char* expectedProtocol;
    int expectedSecure;
    int expectedEffective;
  };
  const Case cases[] = {
      {T("https"), kMissing, 8020, "https", 8383, 8383},
      {T("http"), kMissing, 8020, "http", 8383, 8020},
      {T("HTTP"), T("9443"), 8020, "HTTP", 9443, 8020},
      {T("ftp"), T("9443"), 8020, "http", 9443, 8020},  // three characters
      {T(""), kMissing, 80, "http", 443, 80},
      {kMissing, kMissing, 8020, "http", 8383, 8020},
      {T("HTTPS"), T("abc"), 8020, "HTTPS", 0, 0},
  };
  for (const Case& c : cases) {
    std::string protocol = ProtocolOrHttp(c.protocol);
    int secure = SecurePortOr363(c.securePort, c.plainPort);
    EXPECT_EQ(protocol, c.expectedProtocol);
    EXPECT_EQ(secure, c.expectedSecure) << protocol;
    EXPECT_EQ(EffectivePort(protocol, c.plainPort, secure), c.expectedEffective) << protocol;
  }
}

TEST(AgentRules, ShortSecondaryAddressesCountAsMissing) {
  EXPECT_EQ(DropShortAddress(T("1.2"), 2), T("1.2"));  // management server: 3 characters stay
  EXPECT_EQ(DropShortAddress(T("12"), 2), kMissing);
  EXPECT_EQ(DropShortAddress(T("1.2"), 3), kMissing);  // distribution server: 3 characters go
  EXPECT_EQ(DropShortAddress(T("1.23"), 3), T("1.23"));
  EXPECT_EQ(DropShortAddress(kMissing, 3), kMissing);
}

TEST(AgentRules, TransferRate) {
  struct Case {
    OptionalText value;
    unsigned rate;
    bool writeBack;
  };
  const Case cases[] = {
      {T("512"), 512, false},  {T("8192"), 8192, false}, {T("8193"), 0, true}, {T("9000"), 0, true},
      {T("-5"), 0, true},      {T(""), 0, true},         {kMissing, 0, true},  {T("0"), 0, false},
      {T("abc"), 0, false},
  };
  for (const Case& c : cases) {
    TransferRateDecision d = DecideTransferRate(c.value);
    EXPECT_EQ(d.rate, c.rate) << c.value.value_or("(missing)");
    EXPECT_EQ(d.writeBack, c.writeBack) << c.value.value_or("(missing)");
  }
}

TEST(AgentRules, ClosedNetwork) {
  struct Case {
    OptionalText dsRoute, dsOnly, agentRoute;
    bool closed;
    const char* messageStart;
  };
  const Case cases[] = {
      {T("True"), kMissing, kMissing, true, "IsDSRouteEnabled key set as true"},
      {T("false"), T("TRUE"), kMissing, false, "IsDSOnlyRouteEnabled key set as true and AGENT_ROUTE_ENABLED key set as false"},
      {kMissing, T("true"), T("TRUE"), true, "IsDSOnlyRouteEnabled key set as true and AGENT_ROUTE_ENABLED key set as true"},
      {kMissing, T("true"), T("no"), false, "IsDSOnlyRouteEnabled key set as true and AGENT_ROUTE_ENABLED key set as false"},
      {kMissing, kMissing, T("true"), false, "The Closed Network was disabled"},
      {kMissing, kMissing, kMissing, false, "The Closed Network was disabled"},
  };
  for (const Case& c : cases) {
    ClosedNetworkDecision d = DecideClosedNetwork(c.dsRoute, c.dsOnly, c.agentRoute);
    EXPECT_EQ(d.closed, c.closed) << c.messageStart;
    EXPECT_EQ(std::string(d.message).rfind(c.messageStart, 0), 0u) << d.message;
  }
}

TEST(AgentRules, DSLastAccessRepair) {
  DistributionEndpoint ds;
  ds.DistributionServerName = "ds01.corp.local";
  ds.DistributionServerFlatName = "DS01";
  ds.DistributionServerIPAddress = "10.0.0.5";
  ds.DistributionServerSecIPAddress = "192.168.7.5";
  struct Case {
    OptionalText last;
    bool repair;
  };
  const Case cases[] = {{T("ds01"), false},        {T("DS01.CORP.LOCAL"), false}, {T("10.0.0.5"), false},
                        {T("192.168.7.5"), false}, {T("10.9.9.9"), true},         {kMissing, false},
                        {T(""), true}};
  for (const Case& c : cases) {
    ds.DistributionLastAccessName = c.last;
    EXPECT_EQ(DSLastAccessNeedsRepair(ds), c.repair) << c.last.value_or("(missing)");
  }
}

TEST(AgentRules, OsFamily) {
  struct Case {
    DWORD platform, major, minor;
    unsigned family;
  };
  const Case cases[] = {
      {2, 5, 0, 0}, {2, 5, 1, 1}, {2, 5, 2, 1}, {2, 6, 0, 2},  {2, 6, 1, 3},          {2, 6, 2, 4},
      {2, 6, 3, 5}, {2, 10, 0, 6}, {2, 6, 4, 7}, {2, 10, 1, 7}, {2, 11, 0, 7},        {2, 7, 0, 7},
      {2, 4, 0, 0xFFFFFFFFu},     {1, 6, 1, 0xFFFFFFFFu},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OsFamilyFromVersion(c.platform, c.major, c.minor), c.family) << c.major << "." << c.minor;
  }
}

TEST(ProxyPassword, EncodingRoundTrips) {
  for (const char* password : {"s3cret", "pässwörd with blanks", "x", "ab=="}) {
    std::string stored = EncodeProxyPassword(password);
    EXPECT_NE(stored, password);
    EXPECT_EQ(DecodeProxyPassword(stored), password);
  }
  EXPECT_EQ(EncodeProxyPassword("s3cret"), "czNjcmV0");
  EXPECT_EQ(DecodeProxyPassword("***not base64***"), "");
  EXPECT_EQ(DecodeProxyPassword(""), "");
}

TEST(AgentService, MessageToAMissingServiceReportsTheError) {
  EXPECT_EQ(SendAgentServiceMessage("NoSuchPlexmoorService", kRestartOnDemandServiceMessage),
            static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
  EXPECT_EQ(SendAgentServiceMessage("", kRestartOnDemandServiceMessage), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

namespace {

class AgentStartup : public ::testing::Test {
 protected:
  void SetUp() override {
    keys_.Clear();
    keys_.SeedMinimalAgent(agent_.path() + "\\");
    ASSERT_EQ(OpenAgentLog("startup.log", (agent_.path() + "\\logs").c_str(), 2, keys_.root()), 0);
  }
  void TearDown() override {
    CloseAgentLog();
    keys_.Clear();
  }
  // A fresh start-up into the test's own record.
  int Start() {
    params_ = AgentParameters();
    params_.agentKey = keys_.root();
    return InitializeAgentParameters(&params_);
  }
  std::string Log() const { return ReadTextFile(agent_ / "logs\\startup.log"); }
  std::string Stored(const std::string& subkey, const std::string& name) {
    std::string value = "(missing)";
    keys_.ReadText(subkey, name, &value);
    return value;
  }
  void EnableDS() {
    keys_.SeedValue("", "EnableDistributionServer", "YES");
    keys_.SeedValue("ServerInfo", "DistributionServerName", "ds01.corp.local");
    keys_.SeedValue("ServerInfo", "DistributionServerFlatName", "DS01");
    keys_.SeedValue("ServerInfo", "DistributionServerIPAddress", "10.0.0.5");
    keys_.SeedValue("ServerInfo", "DistributionServerPort", "8020");
  }

  TempDir agent_{"agent_startup"};
  // The agent's keys of this test program alone.
  ScopedTestKey key_{"agent_startup"};
  AgentKeysAt keys_{key_.path()};
  AgentParameters params_;
};

}  // namespace

TEST_F(AgentStartup, SeededAgentFillsTheRecordWithDefaults) {
  keys_.RemoveValue("", "EnableDSRoute");
  keys_.RemoveValue("", "DataTransferRate_KBps");
  keys_.RemoveValue("", "EnableChecksum");
  ASSERT_EQ(Start(), 0);
  const AgentParameters& p = params_;
  EXPECT_EQ(p.server.RZServerName, "127.0.0.1");
  EXPECT_EQ(p.server.serverPort, 8383);
  EXPECT_EQ(p.ds.DistributionServerProtocol, "https");  // DS off: follows the server
  EXPECT_EQ(p.ds.dsServerPort, 8383);
  EXPECT_EQ(p.HTTPRequestTimeout, 60000u);
  EXPECT_EQ(p.HTTPConnectionTimeout, 30000u);
  EXPECT_EQ(p.EnableChecksum, 1);
  EXPECT_EQ(p.DataTransferRate_KBps, 0u);
  EXPECT_EQ(p.dsRouteEnabled, 0);
  EXPECT_EQ(p.ProxyEnabled, "no");
  EXPECT_EQ(p.strictCertificateMode, 0);
  EXPECT_EQ(p.RZAgentResourceID, T("101"));
  EXPECT_FALSE(p.RemoteOfficeName.has_value());
  EXPECT_EQ(p.userAgent, L"Plexmoor Agent");
  EXPECT_EQ(p.clientAuthDllPath, agent_.path() + "\\bin\\ClientAuthHandler.dll");
  // Wine still yields a computer name and a name space (its workgroup).
  EXPECT_FALSE(p.gv_localComputerName.empty());
  ASSERT_FALSE(p.clientNamespace.empty());
  EXPECT_EQ(p.gv_clientDataPath, "client-data/cust01/domains/" + p.clientNamespace);
  // Repaired in the registry for the agent's other programs.
  EXPECT_EQ(Stored("", "EnableDSRoute"), "no");
  EXPECT_EQ(Stored("", "DataTransferRate_KBps"), "0");
  EXPECT_NE(Log().find("Plexmoor Server Port                -> 8383 \n"), std::string::npos);
  EXPECT_NE(Log().find("Computer is not an imaged one"), std::string::npos);
  // An unreadable FIPS flag is an error, so it reaches the error lines.
  EXPECT_NE(Log().find("[ERROR] InitializeAgentParameters :Failed to read FIPSModeEnabled Reg key..\n"),
            std::string::npos);
}

TEST_F(AgentStartup, OnlyTheFatalValuesEndStartUp) {
  struct Case {
    const char* subkey;
    const char* name;
    bool ds;
    int result;
  };
  // The agent group's own values (service, MSP, customer, product code) are
  // logged when missing but start-up goes on with their defaults.
  const Case cases[] = {
      {"ServerInfo", "RZServerName", false, 13},   {"ServerInfo", "RZServerPort", false, 13},
      {"", "EnableDistributionServer", false, 13}, {"", "AgentServiceName", false, 0},
      {"", "MSPName", false, 0},                   {"", "CustomerId", false, 0},
      {"ServerInfo", "RZProductCode", false, 0},   {"", "RZAgentVersion", false, 13},
      {"", "CustomerName", false, 13},             {"ServerInfo", "DistributionServerName", true, 13},
      {"ServerInfo", "DistributionServerPort", true, 13}, {"", "RZAgentInstallDir", false, 13},
  };
  for (const Case& c : cases) {
    keys_.Clear();
    keys_.SeedMinimalAgent(agent_.path() + "\\");
    if (c.ds) EnableDS();
    keys_.RemoveValue(c.subkey, c.name);
    EXPECT_EQ(Start(), c.result) << c.name;
  }
  keys_.Clear();
  keys_.SeedMinimalAgent(agent_.path() + "\\");
  keys_.SeedValue("", "CustomerId", "");
  EXPECT_EQ(Start(), 0) << "empty CustomerId";
  EXPECT_NE(Log().find("GetCustomerId: error while retrieving customerid\n"), std::string::npos);
}

TEST_F(AgentStartup, InstallFolderMustBeText) {
  struct Case {
    const char* what;
    std::string data;
    DWORD type;
    int result;
    std::string folder;
  };
  const std::string dir = agent_.path();
  const Case cases[] = {
      {"text with separator", dir + "\\", REG_SZ, 0, dir + "\\"},
      {"separator added", dir, REG_SZ, 0, dir + "\\"},
      {"expandable text", dir + "\\", REG_EXPAND_SZ, 0, dir + "\\"},
      {"empty", "--", REG_SZ, 13, ""},
      {"binary reading like a drive", "Z:\\", REG_BINARY, 13, ""},
  };
  for (const Case& c : cases) {
    keys_.Clear();
    keys_.SeedMinimalAgent(dir + "\\");
    keys_.SeedValue("", "RZAgentInstallDir", c.data, c.type);
    EXPECT_EQ(Start(), c.result) << c.what;
    if (c.result == 0) {
      EXPECT_EQ(params_.RZAgentInstallDir, c.folder) << c.what;
    }
  }
}

TEST_F(AgentStartup, SecurePortAndProtocolRules) {
  keys_.RemoveValue("ServerInfo", "RZServerSecurePort");
  ASSERT_EQ(Start(), 0);
  EXPECT_EQ(params_.server.RZServerSecurePort, 8383);
  EXPECT_EQ(params_.server.serverPort, 8383);

  keys_.SeedValue("ServerInfo", "RZServerProtocol", "ftp");
  ASSERT_EQ(Start(), 0);
  EXPECT_EQ(params_.server.RZServerProtocol, "http");
  EXPECT_EQ(params_.server.serverPort, 8020);
}

TEST_F(AgentStartup, TransferRateIsLimitedAndWrittenBack) {
  struct Case {
    const char* stored;
    unsigned rate;
    const char* after;
  };
  const Case cases[] = {{"9000", 0, "0"}, {"-5", 0, "0"}, {"8192", 8192, "8192"}, {"", 0, "0"}};
  for (const Case& c : cases) {
    keys_.SeedValue("", "DataTransferRate_KBps", c.stored);
    ASSERT_EQ(Start(), 0) << c.stored;
    EXPECT_EQ(params_.DataTransferRate_KBps, c.rate) << c.stored;
    EXPECT_EQ(Stored("", "DataTransferRate_KBps"), c.after) << c.stored;
  }
}

TEST_F(AgentStartup, DistributionServerRules) {
  EnableDS();
  keys_.SeedValue("", "IsDSOnlyRouteEnabled", "TRUE");
  keys_.SeedValue("ServerInfo", "DistributionServerProtocol", "http");
  keys_.SeedValue("ServerInfo", "DistributionLastAccessName", "ds01");  // the flat name in another case
  keys_.SeedValue("ServerInfo", "DistributionServerSecIPAddress", "1.2");
  keys_.SeedValue("ServerInfo", "RZServerSecIPAddress", "1.2");
  ASSERT_EQ(Start(), 0);
  const AgentParameters& p = params_;
  EXPECT_EQ(p.ds.closedNetwork, "false");
  EXPECT_EQ(p.ds.closedNetworkFlag, 0);
  EXPECT_NE(Log().find("IsDSOnlyRouteEnabled key set as true and AGENT_ROUTE_ENABLED key set as false"),
            std::string::npos);
  EXPECT_EQ(p.ds.DistributionLastAccessName, T("ds01"));
  EXPECT_EQ(Stored("ServerInfo", "DistributionLastAccessName"), "ds01");
  EXPECT_FALSE(p.ds.DistributionServerSecIPAddress.has_value());
  EXPECT_EQ(p.server.RZServerSecIPAddress, T("1.2"));
  // The DS speaks the management server's protocol, in the registry too.
  EXPECT_EQ(p.ds.DistributionServerProtocol, "https");
  EXPECT_EQ(Stored("ServerInfo", "DistributionServerProtocol"), "https");
  EXPECT_EQ(p.ds.dsServerPort, 8383);
  EXPECT_NE(Log().find("RZ Distribution Server  Port      \t\t\t-> 8383 \n"), std::string::npos);

  // A last access name that names no address of the DS is repaired.
  keys_.SeedValue("ServerInfo", "DistributionLastAccessName", "10.9.9.9");
  ASSERT_EQ(Start(), 0);
  EXPECT_EQ(params_.ds.DistributionLastAccessName, T("10.0.0.5"));
  EXPECT_EQ(Stored("ServerInfo", "DistributionLastAccessName"), "10.0.0.5");
}

TEST_F(AgentStartup, DSRouteReplacesTheServerAndDropsTheProxy) {
  EnableDS();
  keys_.SeedValue("", "EnableDSRoute", "True");
  keys_.SeedValue("ServerInfo", "DistributionLastAccessName", "10.0.0.5");
  ASSERT_EQ(Start(), 0);
  const AgentParameters& p = params_;
  EXPECT_EQ(p.server.RZServerName, "ds01.corp.local");
  EXPECT_EQ(p.server.RZServerFlatName, T("ds01.corp.local"));
  EXPECT_EQ(p.server.RZServerIPAddress, T("10.0.0.5"));
  EXPECT_EQ(p.server.RZLastAccessName, T("10.0.0.5"));
  EXPECT_EQ(p.ProxyEnabled, "NO");
  std::string log = Log();
  // The dump still shows the management server; the route line follows it.
  EXPECT_LT(log.find("Plexmoor Server Name                -> 127.0.0.1 \n"),
            log.find("Enable Distribution Server Route                       -> 1 \n"));
}

TEST_F(AgentStartup, ProxyGroup) {
  keys_.SeedValue("", "ProxyEnabled", "Yes");
  keys_.SeedValue("", "ProxyServerName", "proxy.corp.local:3128");
  keys_.SeedValue("", "ProxyUserName", "svc-proxy");
  keys_.SeedValue("", "ProxyPassword", EncodeProxyPassword("s3cret!"));
  keys_.SeedValue("", "ProxyByPass", "<local>");
  keys_.SeedValue("", "IsAutoProxyDetectionEnabled", "TRUE");
  ASSERT_EQ(Start(), 0);
  EXPECT_EQ(params_.ProxyPassword, "s3cret!");
  EXPECT_EQ(params_.ProxyByPass, "");
  EXPECT_EQ(params_.IsAutoProxyDetectionEnabled, 1);
  EXPECT_NE(Log().find("Cryptographic client Ok\r\n"), std::string::npos);
  EXPECT_NE(Log().find("Proxy Server Name -> proxy.corp.local:3128 \n"), std::string::npos);
  EXPECT_EQ(Log().find("s3cret!"), std::string::npos);

  keys_.SeedValue("ServerInfo", "ConnectWithoutProxy", "YES");
  ASSERT_EQ(Start(), 0);
  EXPECT_EQ(params_.ProxyEnabled, "NO");
  EXPECT_EQ(params_.ProxyServerName, "");

  // A proxy without a name is not fatal; the dump carries the proxy block
  // after the record's own lines.
  keys_.RemoveValue("ServerInfo", "ConnectWithoutProxy");
  keys_.RemoveValue("", "ProxyServerName");
  EXPECT_EQ(Start(), 0);
  std::string log = Log();
  size_t dump = log.rfind("Server Security Certificate Installed");
  size_t block = log.rfind("Proxy Server Name ->  \n");
  ASSERT_NE(dump, std::string::npos);
  ASSERT_NE(block, std::string::npos);
  EXPECT_LT(dump, block);
}

TEST_F(AgentStartup, ImagedComputerAnswers10047AfterTheDump) {
  keys_.SeedValue("", "ImagedComputer", "1", REG_DWORD);
  EXPECT_EQ(Start(), 10047);
  std::string log = Log();
  size_t dump = log.find("Local Computer Name                       -> ");
  size_t imaged = log.find("InitializeAgentParameters : Computer is detected as imaged One .. \n");
  ASSERT_NE(dump, std::string::npos);
  ASSERT_NE(imaged, std::string::npos);
  EXPECT_LT(dump, imaged);
}

TEST_F(AgentStartup, RouteWritersKeepFailOverStateInStep) {
  keys_.SeedValue("", "isFailOverDSEnabled", "1", REG_DWORD);
  ASSERT_EQ(Start(), 0);
  DWORD isDSEnabled = 0;
  EXPECT_EQ(UpdateEnableDistributionServer(&params_, "yes"), 0);
  const std::string serverInfo = keys_.Subkey("ServerInfo");
  EXPECT_EQ(ReadDwordRegistryData(HKEY_LOCAL_MACHINE, serverInfo.c_str(), "IsDSEnabled", &isDSEnabled), 0);
  EXPECT_EQ(isDSEnabled, 1u);
  EXPECT_EQ(Stored("", "EnableDistributionServer"), "yes");
  EXPECT_EQ(UpdateEnableDistributionServer(&params_, "No"), 0);
  EXPECT_EQ(ReadDwordRegistryData(HKEY_LOCAL_MACHINE, serverInfo.c_str(), "IsDSEnabled", &isDSEnabled), 2);
  EXPECT_EQ(params_.EnableDistributionServer, "No");

  EXPECT_EQ(UpdateDistributionLastAccessName(&params_, "10.1.1.1"), 0);
  EXPECT_EQ(Stored("ServerInfo", "DistributionLastAccessName"), "10.1.1.1");
  EXPECT_EQ(params_.ds.DistributionLastAccessName, T("10.1.1.1"));
}

TEST_F(AgentStartup, ProxyChangeHookAsksTheAgentService) {
  ASSERT_EQ(Start(), 0);
  NotifyProxyDetailsChanged();
  std::string log = Log();
  EXPECT_NE(log.find("AgentSendRequest: Restarting ondemand exe since Proxy connection details changed \n"),
            std::string::npos);
  EXPECT_NE(log.find("PlexmoorAgentService"), std::string::npos);  // the outcome names the service
  RegisterProxyChangeHook(nullptr);
}
