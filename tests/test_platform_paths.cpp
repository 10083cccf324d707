// The user's own folders and placing a new file without replacing one.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform_paths.h"

namespace fs = std::filesystem;

namespace {
mode_t modeOf(const fs::path& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

struct PlatformPaths : ::testing::Test {
    fs::path dir = fs::temp_directory_path() / ("kvz-platform-" + std::to_string(getpid()));
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override
    {
        unsetenv("XDG_DATA_HOME");
        unsetenv("XDG_STATE_HOME");
        fs::remove_all(dir);
    }
};
}  // namespace

TEST_F(PlatformPaths, UserFoldersAreMadePrivateUnderTheXdgFoldersOrHome)
{
    setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    std::string made;
    ASSERT_TRUE(userFolder(UserFolder::data, "kvz-cdi/backups", made));
    EXPECT_EQ(made, (dir / "data/kvz-cdi/backups/").string());
    EXPECT_EQ(modeOf(dir / "data/kvz-cdi"), 0700u);
    EXPECT_EQ(modeOf(dir / "data/kvz-cdi/backups"), 0700u);

    // An existing folder of ours is made private; a relative variable is
    // ignored for the default under HOME.
    fs::create_directories(dir / "home/.local/state/kvz-cdi");
    fs::permissions(dir / "home/.local/state/kvz-cdi", fs::perms(0755));
    setenv("XDG_STATE_HOME", "relative/state", 1);
    const std::string home = std::getenv("HOME");
    setenv("HOME", (dir / "home").c_str(), 1);
    const bool stateMade = userFolder(UserFolder::state, "kvz-cdi", made);
    setenv("HOME", home.c_str(), 1);
    ASSERT_TRUE(stateMade);
    EXPECT_EQ(made, (dir / "home/.local/state/kvz-cdi/").string());
    EXPECT_EQ(modeOf(dir / "home/.local/state/kvz-cdi"), 0700u);

    // A link or a file where the folder should be is refused.
    fs::create_symlink(dir, dir / "data/kvz-cdi/linked");
    EXPECT_FALSE(userFolder(UserFolder::data, "kvz-cdi/linked", made));
    std::ofstream(dir / "data/kvz-cdi/plain");
    EXPECT_FALSE(userFolder(UserFolder::data, "kvz-cdi/plain", made));
}

TEST_F(PlatformPaths, ANewFileNeverReplacesOne)
{
    std::ofstream(dir / "a") << "new";
    std::ofstream(dir / "taken") << "old";
    bool taken = true;
    EXPECT_TRUE(placeNewFile((dir / "a").c_str(), (dir / "b").c_str(), taken));
    EXPECT_FALSE(taken);
    EXPECT_FALSE(fs::exists(dir / "a"));
    EXPECT_TRUE(fs::exists(dir / "b"));

    std::ofstream(dir / "c") << "new";
    EXPECT_FALSE(placeNewFile((dir / "c").c_str(), (dir / "taken").c_str(), taken));
    EXPECT_TRUE(taken);
    std::ifstream old(dir / "taken");
    std::string text;
    old >> text;
    EXPECT_EQ(text, "old");
}
