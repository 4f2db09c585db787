// The "qcli" method end to end in-process: request words to reply lines, the server object
// through a recording services table, and the pair list through the fake transport.
#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "modules/brivo/brivo_test_support.h"
#include "modules/brivo/cli/cli_server.h"
#include "modules/brivo/cli/cli_test_support.h"
#include "modules/brivo/pages/page_methods.h"

namespace brivo {
namespace {

using cli::testing::replyLines;
using cli::testing::replyText;

TableOwner call(const std::vector<std::string>& words, const char* upload = nullptr) {
  TableOwner request;
  addVariable(request.address(), "module", "Brivo");
  addVariable(request.address(), "method", "qcli");
  for (size_t i = 0; i < words.size(); ++i) {
    addVariable(request.address(), ("p" + std::to_string(i)).c_str(), words[i].c_str());
  }
  if (upload != nullptr) addVariable(request.address(), "UploadedFile", upload);
  return TableOwner(qcliMethod(request.get()));
}

// What the server's request service was asked, and what it answers.
struct ServerSide {
  std::vector<uint32_t> codes;
  std::string newPassword, oldPassword;
  std::string summary = "Changing the password completed successfully.";
  std::string details = " ";
};
ServerSide* gServer = nullptr;

VariableTable fakeServerRequest(uint32_t code, VariableTable values) {
  gServer->codes.push_back(code);
  VariableTable reply = nullptr;
  switch (code) {
    case kServerRequestHostName:
      addVariable(&reply, "OsHostName", "storage-01");
      break;
    case kServerRequestVersion:
      addVariable(&reply, "KvVersion", "2.4.1");
      break;
    case kServerRequestChangePassword:
      gServer->newPassword = getVariableOrMissing(values, "NewPassword");
      gServer->oldPassword = getVariableOrMissing(values, "OldPassword");
      addVariable(&reply, "MessageSummary", gServer->summary.c_str());
      addVariable(&reply, "MessageDetails", gServer->details.c_str());
      break;
    default:
      break;
  }
  return reply;
}

class CliServerObject : public ::testing::Test {
 protected:
  void SetUp() override {
    gServer = &server_;
    services_.serverRequest = fakeServerRequest;
    moduleState().services.store(&services_);
  }
  void TearDown() override {
    moduleState().services.store(nullptr);
    gServer = nullptr;
  }
  ServerSide server_;
  ModuleServices services_ = testing::recordingServices();
};

TEST(CliMethod, WordsBecomeNumberedReplyLines) {
  TableOwner reply = call({"help", "-obj"});
  EXPECT_STREQ(getVariable(reply.get(), "HTMLPath"), "../../html/Brivo/main/qcli.htm");
  EXPECT_STREQ(getVariable(reply.get(), "textloop"), "14");
  const auto lines = replyLines(reply.get());
  ASSERT_EQ(lines.size(), 14u);
  EXPECT_EQ(lines[0], "OBJECT NAMES:\n");
  EXPECT_EQ(lines[13], "    statistics | stats\n");

  // The words end at the first missing number.
  TableOwner request;
  addVariable(request.address(), "p0", "help");
  addVariable(request.address(), "p2", "-obj");
  TableOwner basic(qcliMethod(request.get()));
  EXPECT_EQ(replyLines(basic.get())[0], "qcli 1.00 -- Kestrova Command Line Interface Tool\n");

  // No words at all: the object error, never an empty reply.
  TableOwner empty(qcliMethod(nullptr));
  EXPECT_EQ(replyLines(empty.get())[2], "Error: Unknown/missing object.\n");
}

TEST_F(CliServerObject, DisplayShowsThisHost) {
  TableOwner reply = call({"server", "display", "--width", "79", "--type", "Brivo", "--wwn", ""});
  const auto lines = replyLines(reply.get());
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[1], "server display\n");
  EXPECT_EQ(lines[4], "Server Information\n");
  EXPECT_EQ(lines[5], std::string(30, ' ') + "Hostname : storage-01\n");
  EXPECT_EQ(lines[6], std::string(22, ' ') + "Kestrova Version : 2.4.1\n");
  EXPECT_EQ(lines[7], std::string(28, ' ') + "OS Version : " + cli::osVersionText() + "\n");
}

TEST_F(CliServerObject, RescanAsksForConfirmationThenTheServer) {
  EXPECT_EQ(replyText(call({"server", "rescan"}).get()),
            "Confirmation is required to complete this operation.\n");
  EXPECT_TRUE(server_.codes.empty());
  TableOwner reply = call({"svr", "resc", "-q"});
  EXPECT_EQ(replyLines(reply.get())[4], "Rescan Initiated. Please wait at least 1 whole minute.\n");
  EXPECT_EQ(server_.codes, (std::vector<uint32_t>{kServerRequestRescan}));
}

TEST_F(CliServerObject, PasswordChangeRemindsOfTheClientSettingsOnlyOnSuccess) {
  TableOwner ok = call({"server", "set", "-npw", "n3w", "-opw", "0ld", "-q"});
  EXPECT_EQ(server_.newPassword, "n3w");
  EXPECT_EQ(server_.oldPassword, "0ld");
  auto lines = replyLines(ok.get());
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[4], "Changing the password completed successfully.\n");
  EXPECT_EQ(lines[5], "    +---------------------------------------------+\n");
  EXPECT_EQ(lines[6], "    + Remember to modify the client side settings +\n");
  EXPECT_EQ(lines[7], "    +---------------------------------------------+\n");

  server_.summary = "Changing the password failed.";
  server_.details = "The current password is not correct.";
  lines = replyLines(call({"server", "set", "-npw", "n3w", "-opw", "bad", "-q"}).get());
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[4], "Changing the password failed.\n");
  EXPECT_EQ(lines[5], "The current password is not correct.\n");
}

TEST(CliMethod, ServerCommandsWithoutServicesSayWhatFailed) {
  moduleState().services.store(nullptr);
  auto lines = replyLines(call({"server", "set", "-npw", "a", "-opw", "b", "-q"}).get());
  EXPECT_EQ(lines[4], "Error: Cannot change the server password.\n");
  lines = replyLines(call({"server", "rescan", "-q"}).get());
  EXPECT_EQ(lines[4], "Error: Cannot request a rescan from the server.\n");
  lines = replyLines(call({"server", "display"}).get());
  EXPECT_EQ(lines[5], std::string(30, ' ') + "Hostname : (missing)\n");
}

TEST(CliMethod, PairCommandWithoutPairListsThePairs) {
  testing::FakeTransportScope fake;
  testing::DeviceList list;
  testing::RunningModule running;
  list.hangItem(list.add("sg0"), "Brivo20000004CF8A1B2C");
  list.hangItem(list.add("sg1"), "Brivo2000000000000001");
  moduleState().deviceList.store(list.head());
  EXPECT_EQ(replyText(call({"drive", "display", "--type", "Brivo", "--wwn", ""}).get()),
            "Error: Cannot get controller device without --type and --wwn.\n"
            "Controllers seen by this server:\n"
            "    --type Brivo --wwn 2000000000000001\n"
            "    --type Brivo --wwn 20000004CF8A1B2C\n");
  EXPECT_EQ(replyText(call({"drive", "display", "--type", "Brivo", "--wwn", "20000004CF8A1B2F"}).get()),
            "Error: Cannot get controller device for type Brivo and WWN 20000004CF8A1B2F.\n"
            "Controllers seen by this server:\n"
            "    --type Brivo --wwn 2000000000000001\n"
            "    --type Brivo --wwn 20000004CF8A1B2C\n");
  moduleState().deviceList.store(nullptr);
}

}  // namespace
}  // namespace brivo
