// Where fx.fx and tam_ui.dds are looked for: the order of the folders, what
// counts as having a file, and the folders named when none has it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "render/data_folders.h"

namespace {

namespace fs = std::filesystem;

class DataFoldersTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tamlo-data-XXXXXX";
        root_ = ::mkdtemp(pattern);
        previous_ = fs::current_path();
        // An installed tree and a build tree, and a working folder of its own.
        for (const char* dir : {"prefix/bin", "prefix/share/tamlo", "build/app", "build/data", "work"})
            fs::create_directories(root_ / dir);
        fs::current_path(root_ / "work");
    }
    void TearDown() override {
        fs::current_path(previous_);
        fs::remove_all(root_);
    }
    void Touch(const fs::path& path) { std::ofstream(path) << "x"; }

    fs::path root_, previous_;
};

TEST_F(DataFoldersTest, WorkingFolderThenInstalledShareThenTheBuildTree) {
    const DataFolderList installed = MakeDataFolders((root_ / "prefix/bin").string(), "../data");
    ASSERT_EQ(installed.size(), 3u);
    EXPECT_EQ(installed[0], "") << "the working folder comes first";
    EXPECT_EQ(installed[1], (root_ / "prefix/share/tamlo").string()) << "normalised, no ..";
    EXPECT_EQ(installed[2], (root_ / "prefix/data").string());

    const DataFolderList built = MakeDataFolders((root_ / "build/app").string(), "../data");
    EXPECT_EQ(built.back(), (root_ / "build/data").string());
    const DataFolderList render = MakeDataFolders((root_ / "build/tools/render").string(), "../../data");
    EXPECT_EQ(render.back(), (root_ / "build/data").string());

    EXPECT_EQ(MakeDataFolders("", "../data"), DataFolderList{""}) << "an unknown executable: here only";
    const DataFolderList same = MakeDataFolders((root_ / "share/bin").string(), "../share/tamlo");
    EXPECT_EQ(same.size(), 2u) << "a folder is listed once";
}

TEST_F(DataFoldersTest, EachFileComesFromTheFirstFolderThatHoldsIt) {
    const DataFolderList folders = MakeDataFolders((root_ / "build/app").string(), "../data");
    const fs::path build = root_ / "build/data";

    EXPECT_EQ(FindDataFile("fx.fx", folders), "") << "nowhere yet";
    Touch(build / "fx.fx");
    EXPECT_EQ(FindDataFile("fx.fx", folders), (build / "fx.fx").string());
    fs::create_directories(root_ / "build/share/tamlo");
    Touch(root_ / "build/share/tamlo/fx.fx");
    EXPECT_EQ(FindDataFile("fx.fx", folders), (root_ / "build/share/tamlo/fx.fx").string());
    Touch(root_ / "work/fx.fx");
    EXPECT_EQ(FindDataFile("fx.fx", folders), "fx.fx") << "the working folder's, by its plain name";

    // What is not a readable file does not count, and the search goes on.
    fs::create_directory(root_ / "work/tam_ui.dds");
    Touch(build / "tam_ui.dds");
    EXPECT_EQ(FindDataFile("tam_ui.dds", folders), (build / "tam_ui.dds").string())
        << "a folder of that name";
    const fs::path locked = root_ / "build/share/tamlo/tam_ui.dds";
    Touch(locked);
    ::chmod(locked.c_str(), 0);
    if (::geteuid() != 0) {
        EXPECT_EQ(FindDataFile("tam_ui.dds", folders), (build / "tam_ui.dds").string()) << "unreadable";
        return;
    }
    // Root (as in CI) reads a file of mode 000: the search runs as nobody.
    ::chmod(root_.c_str(), 0755);  // made 0700
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(::setuid(65534) != 0                                            ? 2
                : FindDataFile("tam_ui.dds", folders) == (build / "tam_ui.dds") ? 0
                                                                                : 1);
    int status = -1;
    ::waitpid(child, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 2)
        GTEST_SKIP() << "root here cannot become nobody, and no mode keeps root from reading a file";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "an unreadable file is passed over";
}

TEST(PresetList, ALongWorkingFolderLeavesRoomForTheInstalledPresets) {
    auto names = [](const std::string& folder, int count) {
        std::vector<std::string> list;
        for (int i = 0; i < count; ++i)
            list.push_back(folder + "/p" + std::to_string(1000 + i) + ".tf");
        return list;
    };
    auto join = [](std::vector<std::string> a, const std::vector<std::string>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const auto working = names("presets", 250), installed = names("/usr/share/tamlo/presets", 4);
    const auto listed = LimitPresets(join(working, installed), 190);
    ASSERT_EQ(listed.size(), 190u);
    EXPECT_EQ(std::vector<std::string>(listed.end() - 4, listed.end()), installed)
        << "every installed one stays";
    EXPECT_EQ(std::vector<std::string>(listed.begin(), listed.begin() + 186),
              std::vector<std::string>(working.begin(), working.begin() + 186))
        << "the working folder's first ones, in order";
    EXPECT_EQ(LimitPresets(join(names("presets", 3), installed), 190).size(), 7u)
        << "a short list stays whole";
    EXPECT_EQ(LimitPresets(join(working, names("/usr/share/tamlo/presets", 300)), 190)[94], working[94])
        << "the working folder keeps half when both are long";
}

TEST_F(DataFoldersTest, TheMessageNamesEveryFolderInOrder) {
    const DataFolderList folders = MakeDataFolders((root_ / "prefix/bin").string(), "../data");
    EXPECT_EQ(DescribeDataFolders(folders), (root_ / "work").string() + " (the working folder), " +
                                                (root_ / "prefix/share/tamlo").string() + ", " +
                                                (root_ / "prefix/data").string());
}

// A data file that is there but unusable is named with what it is; only a
// file that is nowhere is "no such file".
TEST_F(DataFoldersTest, TheMessageSaysWhatStandsInTheFilesPlace) {
    const DataFolderList folders{(root_ / "a").string(), (root_ / "b").string()};
    fs::create_directories(root_ / "a");
    fs::create_directories(root_ / "b");
    EXPECT_EQ(WhyNoDataFile("fx.fx", folders).rfind("no such file in ", 0), 0u);
    ASSERT_EQ(::mkfifo((root_ / "b/fx.fx").c_str(), 0600), 0);
    EXPECT_EQ(WhyNoDataFile("fx.fx", folders),
              (root_ / "b/fx.fx").string() + " is not a regular file (a pipe or a device)");
    fs::create_symlink("/dev/zero", root_ / "a/fx.fx");
    EXPECT_EQ(WhyNoDataFile("fx.fx", folders),
              (root_ / "a/fx.fx").string() + " is not a regular file (a pipe or a device)");
    fs::remove(root_ / "a/fx.fx");
    fs::create_directory(root_ / "a/fx.fx");
    EXPECT_EQ(WhyNoDataFile("fx.fx", folders), (root_ / "a/fx.fx").string() + " is a folder");
}

}  // namespace
