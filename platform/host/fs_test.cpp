#include "platform/fs.h"

#include <unistd.h>

#include <functional>

#include "platform/host/test_support.h"

namespace {

class FsTest : public host_test::PlatformTest {
 protected:
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
  EXPECT_TRUE(std::filesystem::is_directory(path("fs/cpp")));
  EXPECT_EQ(fs_stat("/cpp/plinder_dpp_logs/", &st), -1);
  EXPECT_EQ(errno, ENOENT);
  ASSERT_EQ(fs_mkdir("/cpp/plinder_dpp_logs/", 0755), 0);
  write("/cpp/plinder_dpp_logs/dpp1.log", "text\n");
  EXPECT_EQ(read_file(path("fs/cpp/plinder_dpp_logs/dpp1.log")), "text\n");
  ASSERT_EQ(fs_unlink("/cpp/plinder_dpp_logs/dpp1.log"), 0);
  EXPECT_FALSE(exists(path("fs/cpp/plinder_dpp_logs/dpp1.log")));

  std::string plain = path("plain.txt");  // other paths are used as given
  write(plain.c_str(), "");
  EXPECT_TRUE(exists(plain));
}

// Both ends of a link are mapped; under a root named relative to the working
// directory the target is still one that resolves from the link's directory.
TEST_F(FsTest, LinksLeadToTheirFilesUnderARelativeRoot) {
  char cwd[PATH_MAX];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  use_env("DRAVIK_FS_ROOT", "rel/root");
  ASSERT_EQ(fs_mkdir("/cpp/plinder_dpp_logs/", 0755), 0);
  write("/cpp/plinder_dpp_logs/dbg.1", "record\n");
  const int rc = fs_symlink("/cpp/plinder_dpp_logs/dbg.1", "/var/log/external/dbg.1");
  ASSERT_EQ(chdir(cwd), 0);
  ASSERT_EQ(rc, 0);
  const std::string link = path("rel/root/var/log/external/dbg.1");
  std::error_code ec;
  EXPECT_EQ(std::filesystem::read_symlink(link, ec).string(),
            path("rel/root/cpp/plinder_dpp_logs/dbg.1"));
  EXPECT_EQ(read_file(link), "record\n");
  EXPECT_FALSE(exists(path("fs")));
}

TEST_F(FsTest, PathsLeavingTheRootAreRefusedAndOthersResolved) {
  struct stat st;
  const std::vector<std::function<bool()>> escapes = {
      [] { return fs_fopen("/cpp/plinder_dpp_logs/../../../x", "w") == nullptr; },
      [] { return fs_mkdir("/var/log/external/../../../../x", 0755) == -1; },
      [&] { return fs_stat("/cpp/..//../etc", &st) == -1; },
      [] { return fs_symlink("/cpp/../../target", "/var/log/external/link") == -1; },
      [] { return fs_symlink("/cpp/target", "/var/log/external/../../../../x") == -1; }};
  for (std::size_t i = 0; i < escapes.size(); ++i) {
    errno = 0;
    EXPECT_TRUE(escapes[i]()) << i;
    EXPECT_EQ(errno, EACCES) << i;
  }
  EXPECT_FALSE(exists(path("x")));
  EXPECT_FALSE(exists(path("fs/var/log/external/link")));
  write("/cpp/./../var/log/external//kept", "");
  EXPECT_TRUE(exists(path("fs/var/log/external/kept")));
}

}  // namespace
