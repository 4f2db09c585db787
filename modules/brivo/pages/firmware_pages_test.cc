// Firmware uploads and the diagnostics dump from the browser against a pair kept in memory: the
// checks made before anything is sent, the drives a drive image goes to, and the files handed to
// the front end.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "modules/brivo/pages/page_methods.h"
#include "modules/brivo/pages/pages_test_support.h"

namespace brivo {
namespace {

using testing::requestFor;

class FirmwarePagesTest : public testing::PageTest {
 protected:
  FirmwarePagesTest() {
    pair_.drives.count = 4;
    for (int i = 0; i < 4; ++i) {
      DriveListEntry& d = pair_.drives.entries[i];
      d.status = kDriveGood;
      d.usage = i == 0 ? kUsageMember : kUsageFree;
      testing::putWwn(0x5000C50000000100ULL + static_cast<uint64_t>(i), d.wwn);
      std::memcpy(d.vendor, "SEAGATE ", 8);
      std::memcpy(d.product, i == 3 ? "OTHERDISK       " : "ST1000NM0001    ", 16);
      std::memcpy(d.revision, "0002", 4);
    }
  }
  // An image file; product names the drive model (drive images) or is null (controller images).
  std::string image(uint32_t level, const char* product = nullptr, size_t size = 600) {
    std::string bytes(size, '\x5A');
    FirmwareImageHeader header{};
    header.length = static_cast<uint32_t>(size);
    std::memcpy(header.magic, kFirmwareMagic, 4);
    header.part = kFirmwareApplication;
    header.level = level;
    bytes.replace(0, sizeof(header), reinterpret_cast<const char*>(&header), sizeof(header));
    if (product != nullptr) {
      DriveFirmwareModel model{};
      std::memset(&model, ' ', sizeof(model));
      std::memcpy(model.product, product, std::strlen(product));
      bytes.replace(sizeof(header), sizeof(model), reinterpret_cast<const char*>(&model), sizeof(model));
    }
    folder_.write("upload.bin", bytes);
    return (folder_.path() / "upload.bin").string();
  }
  std::vector<int> selectedDrives() {
    std::vector<int> drives;
    for (const auto& op : writes()) {
      if (op.id != kOpSelectDriveFirmware || op.block.size() < sizeof(DriveFirmwareSelectBlock)) continue;
      for (int i = 0; i < 4; ++i) {
        if (std::memcmp(op.block.data(), pair_.drives.entries[i].wwn, 8) == 0 && op.block[8] == 1)
          drives.push_back(i);
      }
    }
    return drives;
  }
};

TEST_F(FirmwarePagesTest, ControllerImagesAreCheckedThenSentWhole) {
  const std::string path = image(0x04010002);
  auto keys = run(flashControllerMethod, requestFor({{"UploadedFile", path.c_str()}}));
  EXPECT_EQ(keys["MessageSummary"], "The command \"Upgrade controller firmware\" completed successfully.");
  EXPECT_EQ(keys["FirmwareLevel"], "4.01 build 0002");
  ASSERT_EQ(writes().size(), 1u);
  EXPECT_EQ(writes()[0].mode, kModeFirmware);
  EXPECT_EQ(writes()[0].id, kFirmwareController);
  EXPECT_EQ(writes()[0].block.size(), 600u);

  fake_->clearSent();
  keys = run(flashDiskIoMethod, requestFor({{"UploadedFile", image(0x100).c_str()}}));
  EXPECT_EQ(keys["MessageIsSuccess"], "true");
  ASSERT_EQ(writes().size(), 1u);
  EXPECT_EQ(writes()[0].id, kFirmwareDiskIo);

  fake_->clearSent();
  folder_.write("notes.txt", std::string(700, 'n'));
  for (const std::string& file : {(folder_.path() / "notes.txt").string(), std::string("no/such/file")}) {
    keys = run(flashControllerMethod, requestFor({{"UploadedFile", file.c_str()}}));
    EXPECT_EQ(keys["MessageIsSuccess"], "false");
    EXPECT_EQ(keys["MessageDetails"],
              "The file is not a firmware image for these controllers. Nothing was sent.");
  }
  keys = run(flashControllerMethod, requestFor({}));
  EXPECT_EQ(keys["MessageIsSuccess"], "false");
  EXPECT_TRUE(writes().empty());

  pair_.refusedWrites.insert(kFirmwareController);
  keys = run(flashControllerMethod, requestFor({{"UploadedFile", image(0x04010002).c_str()}}));
  EXPECT_EQ(keys["MessageIsSuccess"], "false");
  EXPECT_EQ(keys.count("FirmwareLevel"), 0u);
}

TEST_F(FirmwarePagesTest, DriveImagesGoOnlyToGoodDrivesOfTheirModel) {
  auto keys =
      run(uploadDriveFirmwareMethod,
          requestFor({{"UploadedFile", image(0x300, "ST1000NM0001").c_str()}, {"DriveSelection", "all"}}));
  EXPECT_EQ(keys["MessageIsSuccess"], "true") << keys["MessageDetails"];
  EXPECT_EQ(keys["DrivesLoaded"], "3");
  EXPECT_EQ(selectedDrives(), (std::vector<int>{0, 1, 2})) << "not drive 3 of another model";
  EXPECT_EQ(writes().back().id, kFirmwareDrive);

  fake_->clearSent();
  keys = run(uploadDriveFirmwareMethod, requestFor({{"UploadedFile", image(0x300, "ST1000NM0001").c_str()},
                                                    {"DriveSelection", "inactive"}}));
  EXPECT_EQ(selectedDrives(), (std::vector<int>{1, 2})) << "the array member is active";

  fake_->clearSent();
  const std::string other = wwnText(pair_.drives.entries[3].wwn);
  keys = run(uploadDriveFirmwareMethod, requestFor({{"UploadedFile", image(0x300, "ST1000NM0001").c_str()},
                                                    {"DriveSelection", "one"},
                                                    {"DriveWWN", other.c_str()}}));
  EXPECT_EQ(keys["MessageDetails"],
            "The drive firmware file is for another drive model than the chosen drive. Nothing was sent.");
  keys = run(uploadDriveFirmwareMethod,
             requestFor({{"UploadedFile", image(0x300, "").c_str()}, {"DriveSelection", "all"}}));
  EXPECT_EQ(keys["MessageDetails"], "The drive firmware file names no drive model. Nothing was sent.");
  keys = run(uploadDriveFirmwareMethod,
             requestFor({{"UploadedFile", image(0x300, "NOSUCHDISK").c_str()}, {"DriveSelection", "all"}}));
  EXPECT_NE(keys["MessageDetails"].find("No good drive of the model"), std::string::npos);
  for (const char* selection : {"", "ALL", "every", "one"}) {
    keys = run(uploadDriveFirmwareMethod, requestFor({{"UploadedFile", image(0x300, "ST1000NM0001").c_str()},
                                                      {"DriveSelection", selection}}));
    EXPECT_EQ(keys["MessageIsSuccess"], "false") << selection;
  }
  EXPECT_TRUE(writes().empty());
}

TEST_F(FirmwarePagesTest, AFailedDriveLoadLeavesNoDriveSelected) {
  pair_.refusedWrites.insert(kFirmwareDrive);
  auto keys = run(
      uploadDriveFirmwareMethod,
      requestFor({{"UploadedFile", image(0x300, "ST1000NM0001").c_str()}, {"DriveSelection", "inactold"}}));
  EXPECT_EQ(keys["MessageIsSuccess"], "false");
  const auto ops = writes();
  ASSERT_EQ(ops.size(), 5u);  // select 1 and 2, the image, deselect 1 and 2
  EXPECT_EQ(ops[2].id, kFirmwareDrive);
  EXPECT_EQ(ops[3].block[8], 0);
  EXPECT_EQ(ops[4].block[8], 0);
}

TEST_F(FirmwarePagesTest, DiagnosticsDumpIsPreparedReadAndOfferedAsText) {
  auto keys = run(getDiagnosticsDumpMethod, requestFor({}));
  EXPECT_EQ(keys["ExportText"], "../../temp/BrivoDiagnostics.txt");
  ASSERT_EQ(writes().size(), 1u);
  EXPECT_EQ(writes()[0].id, kOpPrepareDiagnostics);
  EXPECT_TRUE(std::filesystem::exists("temp/BrivoDiagnostics.txt"));

  pair_.refusedReads.insert(kOpReadDiagnosticsDump);
  keys = run(getDiagnosticsDumpMethod, requestFor({}));
  EXPECT_EQ(keys.count("ExportText"), 0u);
  EXPECT_EQ(keys["MessageIsSuccess"], "false");
  EXPECT_FALSE(std::filesystem::exists("temp/BrivoDiagnostics.txt")) << "no stale dump is handed out";
}

}  // namespace
}  // namespace brivo
