// The Windows build has no TLS library: a request that asks for HTTPS must end with a clear
// refusal and the transport code, and nothing at all may reach the server in clear text.
#include <gtest/gtest.h>

#include "common/test_folder.h"
#include "qcli/client_test_support.h"
#include "qcli/exit_codes.h"
#include "qcli/test_http_peer.h"

namespace qcli {
namespace {

TEST(TlsOnWindows, ARequestForTlsIsRefusedAndNothingIsSent) {
  TestFolder folder;
  for (const auto& [args, env] :
       std::vector<std::pair<std::vector<std::string>, std::map<std::string, std::string>>>{
           {{"--tls", "array", "display"}, {}},
           {{"array", "display"}, {{"QCLI_SERVER_TLS", "yes"}}},
       }) {
    testing::TestHttpPeer peer({testing::plainReply("text/html", testing::htmlPage("never\n"))});
    std::vector<std::string> all{"--ip", "127.0.0.1", "--port", peer.portText()};
    all.insert(all.end(), args.begin(), args.end());
    std::map<std::string, std::string> environment = env;
    environment.emplace("QCLI_CONFIG_FILE", folder.file("none.db"));
    const testing::ClientRun run = testing::runClientWith(all, environment);
    peer.stop();
    EXPECT_EQ(run.exitCode, kExitTransportFailure);
    EXPECT_TRUE(run.output.ends_with(
        "Error: TLS is not available in this build; the request was not sent.\n"
        "       Use a qcli built with TLS, or reach the front end over a trusted path.\n"
        "http request returned no data.\n"))
        << run.output;
    EXPECT_TRUE(peer.requests().empty()) << "not even a connection";
  }
}

}  // namespace
}  // namespace qcli
