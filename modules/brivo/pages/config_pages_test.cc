// Configuration download, restore, clear and archive against a pair kept in memory.
#include <gtest/gtest.h>

#include <filesystem>

#include "modules/brivo/pages/page_methods.h"
#include "modules/brivo/pages/pages_test_support.h"

namespace brivo {
namespace {

using testing::requestFor;

class ConfigPagesTest : public testing::PageTest {
 protected:
  std::string upload(size_t bytes, char fill = 'c') {
    folder_.write("upload.bin", std::string(bytes, fill));
    return (folder_.path() / "upload.bin").string();
  }
};

TEST_F(ConfigPagesTest, RestoreSendsOnlyAWholeBlock) {
  for (size_t size : {size_t{kConfigurationLength} - 1, size_t{kConfigurationLength} + 1, size_t{0}}) {
    const std::string path = upload(size);
    auto reply = run(restoreConfigurationMethod, requestFor({{"UploadedFile", path.c_str()}}));
    EXPECT_EQ(reply["MessageIsSuccess"], "false") << size;
    EXPECT_EQ(reply["MessageSummary"], "The command \"Restore configuration\" failed.");
  }
  auto unreadable = run(restoreConfigurationMethod, requestFor({{"UploadedFile", "no/such/file"}}));
  EXPECT_EQ(unreadable["MessageIsSuccess"], "false");
  EXPECT_TRUE(writes().empty());

  const std::string path = upload(kConfigurationLength, 'r');
  auto reply = run(restoreConfigurationMethod, requestFor({{"UploadedFile", path.c_str()}}));
  EXPECT_EQ(reply["MessageIsSuccess"], "true");
  EXPECT_EQ(reply["HTMLPath"], "../Common/MessagePopupPanel.htm");
  size_t total = 0;
  for (const auto& op : writes()) {
    EXPECT_EQ(op.mode, kModeData);
    EXPECT_EQ(op.id, kOpRestoreConfiguration);
    EXPECT_EQ(static_cast<size_t>(op.cdb[3] << 16 | op.cdb[4] << 8 | op.cdb[5]), total);
    EXPECT_EQ(op.block, std::vector<uint8_t>(op.block.size(), 'r'));
    total += op.block.size();
  }
  EXPECT_EQ(total, kConfigurationLength);
}

TEST_F(ConfigPagesTest, ClearComparesTheConfigurationTime) {
  auto stale = run(clearConfigurationMethod, requestFor({{"ConfigurationTime", "1699999999"}}));
  EXPECT_TRUE(writes().empty());
  EXPECT_NE(stale["MessageDetails"].find("changed since this page was shown"), std::string::npos);
  EXPECT_EQ(stale["CloseParent"], "true");
  auto absent = run(clearConfigurationMethod, requestFor({}));
  EXPECT_TRUE(writes().empty()) << "an absent time counts as 0";
  EXPECT_EQ(absent["MessageIsSuccess"], "false");

  auto cleared = run(clearConfigurationMethod, requestFor({{"ConfigurationTime", "1700000000"}}));
  EXPECT_EQ(testing::idsOf(writes()), (std::vector<uint8_t>{0x80, 0x81, 0x82, 0x80}));
  EXPECT_EQ(cleared["MessageIsSuccess"], "true");
  EXPECT_EQ(cleared["CloseParent"], "true");
  EXPECT_TRUE(takeConfigurationChanged());

  fake_->clearSent();
  pair_.refusedWrites.insert(kOpConfigClear);
  auto refused = run(clearConfigurationMethod, requestFor({{"ConfigurationTime", "1700000000"}}));
  EXPECT_EQ(testing::idsOf(writes()), (std::vector<uint8_t>{0x80, 0x81, 0x80}));
  EXPECT_EQ(refused["MessageIsSuccess"], "false");
}

TEST_F(ConfigPagesTest, DownloadWritesTheBlockOrReportsWithoutAnOldFile) {
  pair_.config->header.changeCount = 4711;
  auto reply = run(downloadConfigurationMethod, requestFor({}));
  EXPECT_EQ(reply["ExportBinary"], "../../temp/Brivo.ConfigurationBlock");
  EXPECT_EQ(reply.count("HTMLPath"), 0u);
  const std::string file = folder_.read("temp/Brivo.ConfigurationBlock");
  ASSERT_EQ(file.size(), kConfigurationLength);
  EXPECT_EQ(std::memcmp(file.data(), pair_.config.get(), kConfigurationLength), 0);

  pair_.refusedReads.insert(kOpReadConfiguration);
  auto failed = run(downloadConfigurationMethod, requestFor({}));
  EXPECT_EQ(failed["ExportBinary"], "../../temp/Brivo.ConfigurationBlock");
  EXPECT_EQ(failed["HTMLPath"], "../Common/MessagePopupPanel.htm");
  EXPECT_EQ(failed["MessageIsSuccess"], "false");
  EXPECT_NE(failed["MessageDetails"].find("was not sent"), std::string::npos) << "reported as result 254";
  EXPECT_FALSE(std::filesystem::exists(folder_.path() / "temp/Brivo.ConfigurationBlock"));
}

TEST_F(ConfigPagesTest, ArchiveKeepsCopiesAndHandsOnlyThemOut) {
  auto taken = run(archiveConfigurationMethod, requestFor({}));
  EXPECT_EQ(taken["MessageIsSuccess"], "true");
  const std::string name = std::string(testing::kTestPair) + "-1700000000.cfg";
  EXPECT_EQ(taken["ArchiveName"], name);
  EXPECT_EQ(folder_.read("mods/Brivo/Archives/" + name).size(), kConfigurationLength);

  for (uint32_t t = 1; t <= 11; ++t) {
    pair_.config->header.configurationTime = 1700000000 + t;
    run(archiveConfigurationMethod, requestFor({}));
  }
  auto page = run(getControllerParamsMethod, requestFor({}));
  EXPECT_EQ(page["ArchiveLoop"], "10");
  EXPECT_EQ(page["ArchiveLoop0Name"], std::string(testing::kTestPair) + "-1700000011.cfg");
  EXPECT_FALSE(std::filesystem::exists(folder_.path() / "mods/Brivo/Archives" / name)) << "oldest pruned";

  auto download =
      run(archiveConfigurationMethod, requestFor({{"ArchiveName", page["ArchiveLoop0Name"].c_str()}}));
  EXPECT_EQ(download["ExportBinary"], "../../mods/Brivo/Archives/" + page["ArchiveLoop0Name"]);
  for (const char* bad :
       {"../../db/password.web", "Brivo0000000000000000-1700000011.cfg", "", name.c_str()}) {
    auto refused = run(archiveConfigurationMethod, requestFor({{"ArchiveName", bad}}));
    EXPECT_EQ(refused.count("ExportBinary"), 0u) << bad;
    EXPECT_EQ(refused["MessageIsSuccess"], "false") << bad;
  }
}

}  // namespace
}  // namespace brivo
