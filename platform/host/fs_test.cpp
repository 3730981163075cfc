#include "platform/fs.h"

#include <unistd.h>

#include "platform/host/test_support.h"

namespace {

class FsTest : public host_test::PlatformTest {
 protected:
  std::string root() const { return path("fs"); }
  static void write(const char* card_path, const char* text) {
    FILE* f = fs_fopen(card_path, "w");
    ASSERT_NE(f, nullptr) << card_path;
    std::fputs(text, f);
    std::fclose(f);
  }
};

TEST_F(FsTest, CardPathsArePlacedBelowTheRootWhoseDirectoriesExistFromTheStart) {
  struct stat st;
  ASSERT_EQ(fs_stat("/var/log/external/", &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_TRUE(std::filesystem::is_directory(root() + "/cpp"));
  EXPECT_EQ(fs_stat("/cpp/plinder_dpp_logs/", &st), -1);
  EXPECT_EQ(errno, ENOENT);

  ASSERT_EQ(fs_mkdir("/cpp/plinder_dpp_logs/", 0755), 0);
  write("/cpp/plinder_dpp_logs/dpp1.log", "text\n");
  EXPECT_EQ(read_file(root() + "/cpp/plinder_dpp_logs/dpp1.log"), "text\n");
  ASSERT_EQ(fs_symlink("/cpp/plinder_dpp_logs/dpp1.log", "/var/log/external/dpp1.log"), 0);
  std::error_code ec;
  EXPECT_EQ(std::filesystem::read_symlink(root() + "/var/log/external/dpp1.log", ec).string(),
            root() + "/cpp/plinder_dpp_logs/dpp1.log");
  ASSERT_EQ(fs_unlink("/cpp/plinder_dpp_logs/dpp1.log"), 0);
  EXPECT_FALSE(exists(root() + "/cpp/plinder_dpp_logs/dpp1.log"));

  // Other paths are used as given.
  std::string plain = path("plain.txt");
  write(plain.c_str(), "");
  EXPECT_TRUE(exists(plain));
  EXPECT_FALSE(exists(root() + plain));
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
  write("/cpp/plinder_dpp_logs/dbg.1", "record\n");
  const int rc = fs_symlink("/cpp/plinder_dpp_logs/dbg.1", "/var/log/external/dbg.1");
  ASSERT_EQ(chdir(cwd), 0);  // the link must resolve from anywhere
  ASSERT_EQ(rc, 0);
  const std::string link = path("rel/root/var/log/external/dbg.1");
  std::error_code ec;
  EXPECT_EQ(std::filesystem::read_symlink(link, ec).string(),
            path("rel/root/cpp/plinder_dpp_logs/dbg.1"));
  EXPECT_EQ(read_file(link), "record\n");
  EXPECT_FALSE(exists(root()));
}

TEST_F(FsTest, PathsLeavingTheRootAreRefusedAndOthersResolved) {
  struct stat st;
  errno = 0;
  EXPECT_EQ(fs_fopen("/cpp/plinder_dpp_logs/../../../x", "w"), nullptr);
  EXPECT_EQ(errno, EACCES);
  errno = 0;
  EXPECT_EQ(fs_mkdir("/var/log/external/../../../../escaped", 0755), -1);
  EXPECT_EQ(errno, EACCES);
  errno = 0;
  EXPECT_EQ(fs_stat("/cpp/..//../etc", &st), -1);
  EXPECT_EQ(errno, EACCES);
  errno = 0;
  EXPECT_EQ(fs_symlink("/cpp/../../target", "/var/log/external/link"), -1);
  EXPECT_EQ(errno, EACCES);
  errno = 0;
  EXPECT_EQ(fs_symlink("/cpp/target", "/var/log/external/../../../../link"), -1);
  EXPECT_EQ(errno, EACCES);
  EXPECT_FALSE(exists(path("x")));
  EXPECT_FALSE(exists(path("escaped")));
  EXPECT_FALSE(exists(root() + "/var/log/external/link"));

  write("/cpp/./../var/log/external//kept", "");
  EXPECT_TRUE(exists(root() + "/var/log/external/kept"));
}

}  // namespace
