#include "platform/fs.h"

#include <unistd.h>

#include "platform/host/test_support.h"

namespace {

class FsTest : public host_test::PlatformTest {
 protected:
  std::string root() const { return path("fs"); }
};

TEST_F(FsTest, CardDirectoriesExistFromTheFirstCall) {
  struct stat st;
  ASSERT_EQ(fs_stat("/var/log/external/", &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  ASSERT_EQ(fs_stat("/cpp", &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_TRUE(exists(root() + "/cpp"));
  EXPECT_TRUE(exists(root() + "/var/log/external"));
  EXPECT_EQ(fs_stat("/cpp/plinder_dpp_logs/", &st), -1);
  EXPECT_EQ(errno, ENOENT);
}

TEST_F(FsTest, CardPathsArePlacedBelowTheRoot) {
  ASSERT_EQ(fs_mkdir("/cpp/plinder_dpp_logs/", 0755), 0);
  EXPECT_TRUE(std::filesystem::is_directory(root() + "/cpp/plinder_dpp_logs"));
  FILE* f = fs_fopen("/cpp/plinder_dpp_logs/dpp1.log", "w");
  ASSERT_NE(f, nullptr);
  std::fputs("text\n", f);
  std::fclose(f);
  EXPECT_EQ(read_file(root() + "/cpp/plinder_dpp_logs/dpp1.log"), "text\n");
  ASSERT_EQ(fs_unlink("/cpp/plinder_dpp_logs/dpp1.log"), 0);
  EXPECT_FALSE(exists(root() + "/cpp/plinder_dpp_logs/dpp1.log"));
}

TEST_F(FsTest, RootComesFromTheEnvironment) {
  std::string other = path("elsewhere");
  setenv("DRAVIK_FS_ROOT", other.c_str(), 1);
  host_env_reset();
  FILE* f = fs_fopen("/var/log/external/x", "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_TRUE(exists(other + "/var/log/external/x"));
  EXPECT_FALSE(exists(root()));
}

TEST_F(FsTest, SymlinkTargetIsPlacedBelowTheRootToo) {
  ASSERT_EQ(fs_mkdir("/cpp/plinder_dpp_logs", 0755), 0);
  FILE* f = fs_fopen("/cpp/plinder_dpp_logs/dpp1.log", "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  ASSERT_EQ(fs_symlink("/cpp/plinder_dpp_logs/dpp1.log", "/var/log/external/dpp1.log"), 0);
  std::error_code ec;
  EXPECT_EQ(std::filesystem::read_symlink(root() + "/var/log/external/dpp1.log", ec).string(),
            root() + "/cpp/plinder_dpp_logs/dpp1.log");
  struct stat st;
  EXPECT_EQ(fs_stat("/var/log/external/dpp1.log", &st), 0);
}

// A root named relative to the working directory still gives links that lead
// to their files: a relative target would be read from the link's directory.
TEST_F(FsTest, LinksLeadToTheirFilesUnderARelativeRoot) {
  char cwd[PATH_MAX];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  setenv("DRAVIK_FS_ROOT", "rel/root", 1);
  host_env_reset();
  ASSERT_EQ(fs_mkdir("/cpp/plinder_dpp_logs/", 0755), 0);
  FILE* f = fs_fopen("/cpp/plinder_dpp_logs/dbg.1", "w");
  ASSERT_NE(f, nullptr);
  std::fputs("record\n", f);
  std::fclose(f);
  const int rc = fs_symlink("/cpp/plinder_dpp_logs/dbg.1", "/var/log/external/dbg.1");
  ASSERT_EQ(chdir(cwd), 0);  // the link must resolve from anywhere
  ASSERT_EQ(rc, 0);
  const std::string link = path("rel/root/var/log/external/dbg.1");
  std::error_code ec;
  EXPECT_EQ(std::filesystem::read_symlink(link, ec).string(),
            path("rel/root/cpp/plinder_dpp_logs/dbg.1"));
  EXPECT_EQ(read_file(link), "record\n");
}

TEST_F(FsTest, PathsLeavingTheRootAreRefused) {
  struct stat st;
  errno = 0;
  EXPECT_EQ(fs_fopen("/cpp/plinder_dpp_logs/../../../x", "w"), nullptr);
  EXPECT_EQ(errno, EACCES);
  EXPECT_FALSE(exists(path("x")));
  errno = 0;
  EXPECT_EQ(fs_mkdir("/var/log/external/../../../../escaped", 0755), -1);
  EXPECT_EQ(errno, EACCES);
  EXPECT_FALSE(exists(path("escaped")));
  errno = 0;
  EXPECT_EQ(fs_stat("/cpp/..//../etc", &st), -1);
  EXPECT_EQ(errno, EACCES);
  errno = 0;
  EXPECT_EQ(fs_symlink("/cpp/../../target", "/var/log/external/link"), -1);
  EXPECT_EQ(errno, EACCES);
  EXPECT_FALSE(exists(root() + "/var/log/external/link"));
  EXPECT_EQ(fs_symlink("/cpp/target", "/var/log/external/../../../../link"), -1);
  EXPECT_EQ(errno, EACCES);
}

TEST_F(FsTest, DotDotThatStaysInsideTheRootIsResolved) {
  FILE* f = fs_fopen("/cpp/./../var/log/external//kept", "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_TRUE(exists(root() + "/var/log/external/kept"));
}

TEST_F(FsTest, OtherPathsAreUsedAsGiven) {
  std::string plain = path("plain.txt");
  FILE* f = fs_fopen(plain.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_TRUE(exists(plain));
  struct stat st;
  EXPECT_EQ(fs_stat(plain.c_str(), &st), 0);
  EXPECT_FALSE(exists(root() + plain));
  EXPECT_EQ(fs_unlink(plain.c_str()), 0);
  EXPECT_FALSE(exists(plain));
}

}  // namespace
