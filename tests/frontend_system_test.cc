// The web front end end to end: the built server in -debug mode and the built cgiloader in its
// standalone mode, both in a fresh installed tree, driven over HTTP as a browser and qcli would.
#include <gtest/gtest.h>
#include <httplib.h>

#include <memory>

#include "qcli/request_builder.h"
#include "tests/frontend_flows.h"
#include "tests/frontend_web_instance.h"

namespace {

class FrontEndSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(builtServerPath())) << "set KESTROVA_BUILD_DIR";
    ASSERT_TRUE(instance_.ready()) << "instance not prepared (cgiloader built? KESTROVA_SOURCE_DIR set?)";
    server_ = std::make_unique<ServerProcess>(std::vector<std::string>{"-debug"}, instance_.root());
    ASSERT_TRUE(server_->started());
    ASSERT_TRUE(server_->waitForText("Scan System thread terminated\n")) << server_->output();
    loader_ = std::make_unique<ChildProgram>(
        instance_.loaderPath(), std::vector<std::string>{"--listen", "127.0.0.1:0"},
        std::vector<std::pair<std::string, std::string>>{{"KESTROVA_SHM_PREFIX", server_->shmPrefix()}});
    ASSERT_TRUE(loader_->waitForText("/\n")) << loader_->output();
    const std::string output = loader_->output();
    const size_t colon = output.rfind(':');
    target_.port = std::stoi(output.substr(colon + 1));
    target_.root = instance_.root();
  }

  // The web side first, then the server with SIGINT, so that it removes its shared memory.
  void TearDown() override {
    if (loader_) {
      loader_->stop();
      EXPECT_EQ(loader_->output().find("Sanitizer"), std::string::npos) << loader_->output();
    }
    if (!server_) return;
    server_->signal(SIGINT);
    EXPECT_EQ(server_->finish(), 0) << server_->output();
  }

  WebInstance instance_;
  std::unique_ptr<ServerProcess> server_;
  std::unique_ptr<ChildProgram> loader_;
  WebTarget target_;
};

TEST_F(FrontEndSystemTest, LoginPagesExportUploadApiAndSettings) {
  checkLoginIsRequired(target_);
  checkTestMethodRenders(target_);
  checkEveryServerPageRenders(target_);
  checkLogExportDownloads(target_);
  checkUploadArrivesAndIsRemoved(target_, instance_);
  checkSettingsSaveAndReload(target_);
  auto image = webClient(target_, false)->Get("/css/kestrova.css");
  ASSERT_TRUE(image);
  EXPECT_EQ(image->status, 200) << "static files need no login";
}

TEST_F(FrontEndSystemTest, QcliUploadReachesTheServer) {
  const std::string file = std::string("config\r\n---\0", 12) + "-";
  qcli::RequestSettings settings{
      "127.0.0.1", std::to_string(target_.port), "admin", "pinecone", "server", "testMethod", "", "cfg.bin"};
  qcli::RequestArguments args;
  args.words = {"config", "restore"};
  args.commandWords = 2;
  const qcli::PostRequest post =
      qcli::buildPostRequest(settings, qcli::buildPostPairs(settings, args), file.size());
  httplib::Client client("127.0.0.1", target_.port);
  // httplib would rewrite qcli's head; the head's fields go as headers, the body as sent.
  httplib::Headers headers = {{"Authorization", "Basic " + qcli::encodeBase64Url("admin:pinecone")}};
  const std::string typeKey = "Content-Type: ";
  const size_t start = post.head.find(typeKey) + typeKey.size();
  const std::string type = post.head.substr(start, post.head.find("\r\n", start) - start);
  auto answer = client.Post("/cgi-bin/cgiloader.cgi", headers, post.parts + file + post.closing, type);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 200) << answer->body;
  // The echo page lists the stored copy's path and the positional words.
  const std::string temp = (std::filesystem::canonical(instance_.root()) / "temp/upload-").string();
  EXPECT_NE(answer->body.find(temp), std::string::npos) << answer->body;
  EXPECT_NE(answer->body.find("restore"), std::string::npos);
  EXPECT_TRUE(instance_.uploadsLeft().empty());
}

TEST_F(FrontEndSystemTest, RestartShowsTheRestartingPage) { checkRestartPage(target_); }

}  // namespace
