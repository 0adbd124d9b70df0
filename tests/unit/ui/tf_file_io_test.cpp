// The ".tf" file on disk without the editor: the viewer's messages for files
// that cannot be read or parsed, and the save that replaces a file only once
// its successor is complete.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ui/tf_file_io.h"

namespace {

class TfFileIoTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tamlo_tf_io_XXXXXX";
        dir_ = ::mkdtemp(pattern);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    static std::vector<uint8_t> Ramp() {
        const ControlPoint points[2] = {{0, 0, 0, 0, 0}, {1, 1, 0.5f, 0.25f, 1}};
        return SerializeTransferFunction(points, 2);
    }
    // The folder's entries: a save leaves no temporary file behind.
    size_t Entries() const {
        return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir_), {}));
    }

    std::string dir_;
};

TEST_F(TfFileIoTest, ASavedFunctionReadsBackAndBadFilesSayWhy) {
    const std::string path = dir_ + "/ramp.tf";
    std::string why;
    ASSERT_TRUE(ReplaceFileAtomically(path, Ramp(), &why)) << why;
    std::vector<ControlPoint> points;
    std::string message;
    ASSERT_TRUE(ReadTransferFunctionFile(path.c_str(), &points, &message)) << message;
    ASSERT_EQ(points.size(), 2u);
    EXPECT_FLOAT_EQ(points[1].blue, 0.25f);

    const std::string missing = dir_ + "/missing.tf";
    EXPECT_FALSE(ReadTransferFunctionFile(missing.c_str(), &points, &message));
    EXPECT_EQ(message, "Unable to read transfer function (" + missing + "): No such file or directory");
    ASSERT_TRUE(ReplaceFileAtomically(dir_ + "/short.tf", {2, 0, 0, 0}, &why)) << why;
    EXPECT_FALSE(ReadTransferFunctionFile((dir_ + "/short.tf").c_str(), &points, &message));
    EXPECT_EQ(message.rfind("Not a transfer function (" + dir_ + "/short.tf): ", 0), 0u) << message;
    EXPECT_EQ(points.size(), 2u) << "a refused file leaves the points as they were";
}

TEST_F(TfFileIoTest, AReplacementKeepsPermissionsAndLinksAndRefusesFolders) {
    const std::string path = dir_ + "/kept.tf";
    std::string why;
    ASSERT_TRUE(ReplaceFileAtomically(path, {1, 2, 3}, &why)) << why;
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(ReplaceFileAtomically(path, Ramp(), &why)) << why;
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u) << "the old file's permissions stay";
    EXPECT_EQ(static_cast<size_t>(info.st_size), Ramp().size());

    const std::string link = dir_ + "/link.tf";
    ASSERT_EQ(::symlink(path.c_str(), link.c_str()), 0);
    ASSERT_TRUE(ReplaceFileAtomically(link, {9}, &why)) << why;
    EXPECT_TRUE(std::filesystem::is_symlink(link)) << "the link stays a link";
    EXPECT_EQ(std::filesystem::file_size(path), 1u) << "the file it names is replaced";

    ASSERT_TRUE(std::filesystem::create_directory(dir_ + "/folder.tf"));
    EXPECT_FALSE(ReplaceFileAtomically(dir_ + "/folder.tf", Ramp(), &why));
    EXPECT_EQ(why, "a folder of that name exists");
    EXPECT_EQ(Entries(), 3u) << "kept.tf, link.tf and folder.tf, no temporary file";
}

}  // namespace
