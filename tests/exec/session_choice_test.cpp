#include "exec/session_choice.h"

#include <gtest/gtest.h>

#include <vector>

#include "exec/terminal_sessions.h"

namespace {

const int kActive = kSessionActive;
const int kConnected = kSessionConnected;
const int kDisconnected = kSessionDisconnected;
const int kListen = 6;

struct ChoiceCase {
  const char* name;
  std::vector<SessionFacts> sessions;
  int session;
  SessionChoiceReason reason;
};

const ChoiceCase kCases[] = {
    // The console user with a normal shell wins over everything listed later.
    {"ActiveWithPrivilege",
     {{0, kDisconnected, "", true},
      {1, kActive, "alice", false},
      {2, kConnected, "bob", true},
      {3, kActive, "carol", true},
      {4, kDisconnected, "", true}},
     2,
     SessionChoiceReason::kActiveWithPrivilege},
    // The last privileged disconnected session, over a named active one
    // without the privilege.
    {"DisconnectedWithPrivilege",
     {{1, kActive, "alice", false},
      {2, kDisconnected, "", true},
      {3, kDisconnected, "", true},
      {5, kDisconnected, "", false}},
     3,
     SessionChoiceReason::kDisconnectedWithPrivilege},
    // Nobody has a shell: the later of the named active sessions. A one-letter
    // name does not count, privilege or not; nor does a listener.
    {"LastActive",
     {{1, kActive, "alice", false},
      {2, kConnected, "bob", false},
      {3, kActive, "x", true},
      {65536, kListen, "", true},
      {4, kDisconnected, "", false}},
     2,
     SessionChoiceReason::kLastActive},
    {"LastDisconnectedOtherThanZero",
     {{0, kDisconnected, "", false}, {1, kActive, "", false}, {2, kDisconnected, "", false}},
     2,
     SessionChoiceReason::kLastDisconnected},
    // Session 0 holds only the services.
    {"OnlyDisconnectedSessionZero", {{0, kDisconnected, "", false}}, -1, SessionChoiceReason::kNone},
    {"NoSessions", {}, -1, SessionChoiceReason::kNone},
};

class SessionChoiceTest : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(SessionChoiceTest, FollowsTheOrderOfPreference) {
  const ChoiceCase& c = GetParam();
  SessionChoice choice = ChooseShutdownPrivilegedSession(c.sessions);
  EXPECT_EQ(choice.session, c.session);
  EXPECT_EQ(choice.reason, c.reason);
}

INSTANTIATE_TEST_SUITE_P(Sessions, SessionChoiceTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ChoiceCase>& info) { return std::string(info.param.name); });

}  // namespace
