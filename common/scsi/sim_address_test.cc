// Tests of the simulator daemon addresses: the TCP form and what is refused.
#include "common/scsi/sim_address.h"

#include <gtest/gtest.h>

#include <string>

#include "common/scsi/scsi_sim.h"

namespace {

TEST(SimAddress, TcpFormIsParsedStrictly) {
  std::string host;
  uint16_t port = 0;
  EXPECT_TRUE(parseSimTcpAddress("tcp:127.0.0.1:9400", &host, &port));
  EXPECT_EQ(host, "127.0.0.1");
  EXPECT_EQ(port, 9400);
  EXPECT_TRUE(parseSimTcpAddress("tcp:10.1.2.3:65535", &host, &port));
  EXPECT_EQ(port, 65535);
  for (const char* bad : {"127.0.0.1:9400", "tcp:", "tcp:127.0.0.1", "tcp:127.0.0.1:", "tcp:127.0.0.1:0",
                          "tcp:127.0.0.1:65536", "tcp:127.0.0.1:99999", "tcp:127.0.0.1:94a0", "tcp:127.0.0.1:-1",
                          "tcp:256.0.0.1:9400", "tcp:1.2.3:9400", "tcp:1.2.3.4.5:9400", "tcp:1..3.4:9400",
                          "tcp:localhost:9400", "tcp:1.2.3.4:9400:1", "tcp:0001.2.3.4:9400", "/tmp/sim.sock"}) {
    host.clear();
    EXPECT_FALSE(parseSimTcpAddress(bad, &host, &port)) << bad;
    EXPECT_TRUE(host.empty()) << bad;
  }
  EXPECT_TRUE(isSimTcpAddress("tcp:x"));
  EXPECT_FALSE(isSimTcpAddress("/tmp/tcp:1"));
}

TEST(SimAddress, ListenFormAllowsAnyPort) {
  std::string host;
  uint16_t port = 1;
  EXPECT_TRUE(parseSimListenAddress("127.0.0.1:0", &host, &port));
  EXPECT_EQ(port, 0);
  EXPECT_TRUE(parseSimListenAddress("0.0.0.0:9400", &host, &port));
  EXPECT_EQ(host, "0.0.0.0");
  for (const char* bad : {"tcp:127.0.0.1:0", "127.0.0.1", ":9400", "127.0.0.1:65536", "host:1"}) {
    EXPECT_FALSE(parseSimListenAddress(bad, &host, &port)) << bad;
  }
}

TEST(SimAddress, DeviceNamesCarryTheTcpAddress) {
  const std::string name = simDeviceName("tcp:127.0.0.1:9400", 0, 1, 2, 3);
  SimDeviceName parsed;
  ASSERT_TRUE(parseSimDeviceName(name, &parsed));
  EXPECT_EQ(parsed.socket, "tcp:127.0.0.1:9400");
  EXPECT_EQ(parsed.bus, 1);
  EXPECT_EQ(parsed.target, 2);
  EXPECT_EQ(parsed.lun, 3);
  ASSERT_TRUE(parseSimDeviceName(simAdapterName("tcp:127.0.0.1:9400", 4), &parsed));
  EXPECT_TRUE(parsed.isAdapter);
  EXPECT_EQ(parsed.host, 4);
  EXPECT_EQ(parsed.socket, "tcp:127.0.0.1:9400");
}

}  // namespace
