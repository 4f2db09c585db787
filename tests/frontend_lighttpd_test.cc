// The web front end as a classic CGI program under a real web server: Debian's lighttpd on a
// loopback port runs the installed cgiloader for /cgi-bin/cgiloader.cgi (the API behind it as
// PATH_INFO) and serves the static files itself; the same flows as the standalone test. Skipped,
// with the reason, only when lighttpd is not installed or does not start.
#include <gtest/gtest.h>
#include <httplib.h>

#include <fstream>
#include <memory>

#include "tests/frontend_flows.h"
#include "tests/frontend_web_instance.h"
#include "tests/support/wait_until.h"

namespace {

namespace fs = std::filesystem;

const fs::path kLighttpd = "/usr/sbin/lighttpd";

class LighttpdTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(builtServerPath())) << "set KESTROVA_BUILD_DIR";
    ASSERT_TRUE(instance_.ready()) << "instance not prepared (cgiloader built? KESTROVA_SOURCE_DIR set?)";
    if (!fs::exists(kLighttpd))
      GTEST_SKIP() << "lighttpd is not installed (scripts/bootstrap.sh installs it)";
    server_ = std::make_unique<ServerProcess>(std::vector<std::string>{"-debug"}, instance_.root());
    ASSERT_TRUE(server_->started());
    ASSERT_TRUE(server_->waitForText("Scan System thread terminated\n")) << server_->output();
    target_.port = freeLoopbackPort();
    target_.apiPrefix = "/cgi-bin/cgiloader.cgi/api/";
    target_.root = instance_.root();
    const fs::path config = instance_.root() / "lighttpd.conf";
    writeConfig(config);
    web_ = std::make_unique<ChildProgram>(kLighttpd, std::vector<std::string>{"-D", "-f", config.string()},
                                          std::vector<std::pair<std::string, std::string>>{});
    if (!accepting(std::chrono::seconds(10))) {
      GTEST_SKIP() << "lighttpd did not start: " << web_->output() << errorLog();
    }
  }

  void writeConfig(const fs::path& config) {
    const std::string root = instance_.root().string();
    std::ofstream out(config);
    out << "server.document-root = \"" << root << "/www\"\n"
        << "server.bind = \"127.0.0.1\"\n"
        << "server.port = " << target_.port << "\n"
        << "server.errorlog = \"" << root << "/lighttpd-error.log\"\n"
        << "server.modules = (\"mod_alias\", \"mod_setenv\", \"mod_cgi\")\n"
        << "alias.url = (\"/cgi-bin/cgiloader.cgi\" => \"" << instance_.loaderPath().string() << "\")\n"
        << "cgi.assign = (\"/cgiloader\" => \"\")\n"
        << "setenv.add-environment = (\"KESTROVA_SHM_PREFIX\" => \"" << server_->shmPrefix() << "\")\n"
        << "mimetype.assign = (\".html\" => \"text/html\", \".htm\" => \"text/html\", \".css\" => "
           "\"text/css\",\n"
        << "                   \".gif\" => \"image/gif\", \".png\" => \"image/png\", \".js\" => "
           "\"text/javascript\")\n";
  }

  // True once lighttpd accepts connections on the port.
  bool accepting(std::chrono::seconds limit) const {
    const auto answers = [this] {
      httplib::Client probe("127.0.0.1", target_.port);
      probe.set_connection_timeout(0, 200000);
      return static_cast<bool>(probe.Head("/"));
    };
    return test_support::waitUntil(answers, limit, std::chrono::milliseconds(50));
  }

  // The error log names the failure when a flow goes wrong.
  std::string errorLog() const {
    std::ifstream in(instance_.root() / "lighttpd-error.log");
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  // The web side first, then the server with SIGINT, so that it removes its shared memory.
  void TearDown() override {
    web_.reset();
    // cgiloader's standard error goes to lighttpd's error log.
    EXPECT_EQ(errorLog().find("Sanitizer"), std::string::npos) << errorLog();
    if (!server_) return;
    server_->signal(SIGINT);
    EXPECT_EQ(server_->finish(), 0) << server_->output();
  }

  WebInstance instance_;
  std::unique_ptr<ServerProcess> server_;
  std::unique_ptr<ChildProgram> web_;
  WebTarget target_;
};

TEST_F(LighttpdTest, LoginPagesExportUploadApiAndSettings) {
  checkLoginIsRequired(target_);
  checkTestMethodRenders(target_);
  checkEveryServerPageRenders(target_);
  checkLogExportDownloads(target_);
  checkUploadArrivesAndIsRemoved(target_, instance_);
  checkSettingsSaveAndReload(target_);
  auto style = webClient(target_, false)->Get("/css/kestrova.css");
  ASSERT_TRUE(style);
  EXPECT_EQ(style->status, 200) << "static files come from lighttpd without a login";
  EXPECT_FALSE(HasFailure()) << errorLog();
}

TEST_F(LighttpdTest, RestartShowsTheRestartingPage) {
  checkRestartPage(target_);
  EXPECT_FALSE(HasFailure()) << errorLog();
}

}  // namespace
