// The download name of an exported file: the tech-support archive is offered under a name that
// reads and sorts by its date; every other file keeps its own name, made safe for the header.
#include "frontend/reply_answer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>

#include "frontend/front_end_test_support.h"

namespace {

TEST(ExportNames, TheArchiveIsNamedByItsDateOtherFilesByTheirOwnName) {
  TestPrefix prefix;
  std::filesystem::create_directories(prefix.root() / "Information");
  prefix.write("Information/Thus__Dec_10__2024_09_05_03.archive", "archive");
  prefix.write("temp/odd;name.archive", "not an archive");
  std::tm when{};
  when.tm_year = 124;
  when.tm_mon = 11;
  when.tm_mday = 10;
  when.tm_hour = 9;
  when.tm_min = 5;
  when.tm_sec = 3;
  when.tm_isdst = -1;
  std::error_code error;
  std::filesystem::last_write_time(
      prefix.root() / "Information/Thus__Dec_10__2024_09_05_03.archive",
      std::chrono::file_clock::from_sys(std::chrono::system_clock::from_time_t(std::mktime(&when))), error);
  ASSERT_FALSE(error) << error.message();
  const PathGuard guard(prefix.root());
  auto disposition = [&](const char* path) {
    TableOwner reply;
    addVariable(reply.address(), "ExportText", path);
    return answerReply(guard, reply.get(), AnswerKind::kPage).header("Content-Disposition");
  };
  EXPECT_EQ(disposition("../../Information/Thus__Dec_10__2024_09_05_03.archive"),
            "attachment; filename=\"kestrova-techsupport-2024-12-10_09-05-03.archive\"");
  EXPECT_EQ(disposition("../../temp/odd;name.archive"), "attachment; filename=\"odd_name.archive\"")
      << "outside Information the file's own name, made safe";
  EXPECT_EQ(disposition("../../db/ServerLog.log"), "attachment; filename=\"ServerLog.log\"");
}

}  // namespace
