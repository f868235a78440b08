// The operating-system layer (common/platform.h), in the scratch directory of
// the unit-test fixture: replacing a file, telling a replaced file from the
// one it replaced, the environment. Runs on every platform the library
// builds for, so each system's branch is tested on its system.
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "platform.h"
#include "test_support.h"

namespace {

using Platform = Unit_Test;

void Write(const std::string &path, const std::string &content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

TEST_F(Platform, ReplaceFileMovesOverAnExistingFileOrANewName) {
  struct Case {
    bool target_exists;
  } cases[] = {{true}, {false}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.target_exists ? "target exists" : "new name");
    std::filesystem::remove("target");
    if (c.target_exists) Write("target", "old content");
    Write("source", "new content");
    ASSERT_TRUE(tesq::Replace_File("source", "target"));
    EXPECT_EQ(Read_File("target"), "new content");
    EXPECT_FALSE(std::filesystem::exists("source"));
  }
  std::filesystem::remove("target");
}

TEST_F(Platform, ReplaceFileFailsForAMissingSourceAndLeavesTheTarget) {
  Write("target", "kept");
  errno = 0;
  EXPECT_FALSE(tesq::Replace_File("no-such-source", "target"));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(Read_File("target"), "kept");
  std::filesystem::remove("target");
}

TEST_F(Platform, IdentityTellsAReplacedFileFromTheSameFile) {
  Write("db", "first");
  const tesq::File_Identity first = tesq::Identify_File("db");
  ASSERT_TRUE(first.known);
  EXPECT_FALSE(first.directory);
  // Rewriting the same file keeps its identity.
  Write("db", "first, rewritten");
  EXPECT_EQ(tesq::Identify_File("db"), first);
  // A file renamed over it is another file. The new file is made while the
  // old one exists, so the two cannot share an index.
  Write("db.new", "second");
  ASSERT_TRUE(tesq::Replace_File("db.new", "db"));
  const tesq::File_Identity second = tesq::Identify_File("db");
  ASSERT_TRUE(second.known);
  EXPECT_NE(second, first);
  std::filesystem::remove("db");
}

TEST_F(Platform, IdentityOfMissingFilesAndDirectories) {
  const tesq::File_Identity missing = tesq::Identify_File("no-such-file");
  EXPECT_FALSE(missing.known);
  EXPECT_EQ(missing.error, ENOENT);
  const tesq::File_Identity in_missing_dir = tesq::Identify_File("no-such-dir/file");
  EXPECT_FALSE(in_missing_dir.known);
  EXPECT_EQ(in_missing_dir.error, ENOENT);
  ASSERT_TRUE(std::filesystem::create_directory("dir"));
  const tesq::File_Identity dir = tesq::Identify_File("dir");
  EXPECT_TRUE(dir.known);
  EXPECT_TRUE(dir.directory);
  std::filesystem::remove("dir");
}

TEST_F(Platform, EnvironmentIsSetAndRemoved) {
  const char *name = "TESQ_PLATFORM_TEST_VARIABLE";
  ASSERT_TRUE(tesq::Set_Environment(name, "some value"));
  ASSERT_NE(std::getenv(name), nullptr);
  EXPECT_STREQ(std::getenv(name), "some value");
  ASSERT_TRUE(tesq::Set_Environment(name, "other"));
  EXPECT_STREQ(std::getenv(name), "other");
  ASSERT_TRUE(tesq::Set_Environment(name, nullptr));
  EXPECT_EQ(std::getenv(name), nullptr);
}

TEST_F(Platform, ProcessIdIsPositiveAndStable) {
  const long id = tesq::Process_Id();
  EXPECT_GT(id, 0);
  EXPECT_EQ(tesq::Process_Id(), id);
}

#ifndef _WIN32
// An append that the file-size limit cuts short (as a full disk would) is
// taken back whole: the file keeps the records before it and no part of
// it, so the next record starts a line of its own.
TEST_F(Platform, AnAppendCutShortLeavesNoPartOfItInTheFile) {
  const std::string path = "trace.txt";
  Write(path, "earlier\n");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit;
    limit.rlim_cur = limit.rlim_max = 12;  // room for 4 of the 12 bytes below
    ::setrlimit(RLIMIT_FSIZE, &limit);
    int error = 0;
    const tesq::Append_Result r = tesq::Append_To_Regular_File(path.c_str(), "word\nlabel\n0\n", 13, &error);
    ::_exit(r == tesq::Append_Result::kFailed && error == EFBIG ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the cut-short append is reported as failed with EFBIG";
  std::ifstream in(path, std::ios::binary);
  const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "earlier\n");
  int error = 0;
  EXPECT_EQ(tesq::Append_To_Regular_File(path.c_str(), "next\n", 5, &error), tesq::Append_Result::kWritten);
}
#endif

}  // namespace
