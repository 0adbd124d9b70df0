// The safe file reads shared by the volume file and the ".tf" file: reads
// that deliver less than asked, and files that are no documents.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/files/file_read.h"
#include "platform/files/file_replace.h"

namespace {

class FileReadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tamlo_file_read_XXXXXX";
        dir_ = ::mkdtemp(pattern);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::string path = dir_ + "/" + name;
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!bytes.empty())  // an empty vector's data() may be null
            std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        return path;
    }

    std::string dir_;
};

TEST_F(FileReadTest, ReadFullyGathersAPipesPiecesAndNoticesAnEarlyEnd) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    // The writer sends 3 pieces: each read gives back one at most.
    std::thread writer([&] {
        const uint8_t pieces[3][2] = {{1, 2}, {3, 4}, {5, 6}};
        for (const auto& piece : pieces) {
            ASSERT_EQ(::write(ends[1], piece, 2), 2);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ::close(ends[1]);
    });
    uint8_t got[4] = {};
    EXPECT_TRUE(ReadFully(ends[0], got, 4)) << "4 bytes over two reads";
    EXPECT_EQ(got[3], 4);
    uint8_t rest[4] = {};
    EXPECT_FALSE(ReadFully(ends[0], rest, 4)) << "only 2 bytes were left before the end";
    writer.join();
    ::close(ends[0]);
}

TEST_F(FileReadTest, AWholeFileUpToTheLimitIsRead) {
    std::vector<uint8_t> bytes;
    std::string why;
    const std::string path = Write("ten.bin", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    ASSERT_TRUE(ReadWholeFile(path.c_str(), 10, "too large", &bytes, &why)) << why;
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_FALSE(ReadWholeFile(path.c_str(), 9, "too large", &bytes, &why)) << "one byte past the limit";
    EXPECT_EQ(why, "too large");
    EXPECT_TRUE(bytes.empty()) << "a refused file leaves nothing behind";

    const std::string empty = Write("empty.bin", {});
    EXPECT_TRUE(ReadWholeFile(empty.c_str(), 10, "too large", &bytes, &why)) << why;
    EXPECT_TRUE(bytes.empty());
}

TEST_F(FileReadTest, FoldersPipesAndMissingFilesAreRefusedWithoutWaiting) {
    std::vector<uint8_t> bytes;
    std::string why;
    const std::string fifo = dir_ + "/pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Without a writer, a blocking open would never return.
    EXPECT_FALSE(ReadWholeFile(fifo.c_str(), 100, "too large", &bytes, &why));
    EXPECT_EQ(why, "it is not a regular file");
    EXPECT_FALSE(ReadWholeFile(dir_.c_str(), 100, "too large", &bytes, &why));
    EXPECT_EQ(why, "it is not a regular file");
    EXPECT_FALSE(ReadWholeFile("/dev/zero", 100, "too large", &bytes, &why)) << "a device never ends";
    EXPECT_EQ(why, "it is not a regular file");
    EXPECT_FALSE(ReadWholeFile((dir_ + "/absent").c_str(), 100, "too large", &bytes, &why));
    EXPECT_EQ(why, "No such file or directory");
}

// Every file the programs write: pieces land whole and in order; a pipe, a
// device behind a link and a read-only file (even for root) stay as they are.
TEST_F(FileReadTest, ReplacementsWriteWholeFilesAndNeverOverPipesDevicesOrReadOnlyFiles) {
    std::string why;
    const std::string path = dir_ + "/out.vol";
    const uint8_t header[2] = {7, 8}, samples[3] = {1, 2, 3};
    ASSERT_TRUE(ReplaceFileAtomically(path, {{header, 2}, {samples, 3}}, &why)) << why;
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ReadWholeFile(path.c_str(), 100, "too large", &bytes, &why)) << why;
    EXPECT_EQ(bytes, (std::vector<uint8_t>{7, 8, 1, 2, 3}));

    const std::string fifo = dir_ + "/pipe", device = dir_ + "/null", kept = dir_ + "/kept.png";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(::symlink("/dev/null", device.c_str()), 0);
    EXPECT_FALSE(ReplaceFileAtomically(fifo, {9}, &why));
    EXPECT_EQ(why, "it is not a regular file");
    EXPECT_FALSE(ReplaceFileAtomically(device, {9}, &why));
    EXPECT_EQ(why, "it is not a regular file");
    EXPECT_EQ(CheckReplaceable(device), "it is not a regular file");
    ASSERT_TRUE(ReplaceFileAtomically(kept, {4, 5}, &why)) << why;
    ASSERT_EQ(::chmod(kept.c_str(), 0444), 0);
    EXPECT_FALSE(ReplaceFileAtomically(kept, {9}, &why));
    EXPECT_EQ(why, "the file is read-only");
    struct stat info {};
    ASSERT_EQ(::stat(kept.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0444u) << "still read-only";
    EXPECT_EQ(info.st_size, 2);
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 4) << "no temporary file left";

    EXPECT_TRUE(IsSameFile(path, dir_ + "/./out.vol"));
    EXPECT_FALSE(IsSameFile(path, kept));
    EXPECT_FALSE(IsSameFile(path, dir_ + "/absent"));
}

}  // namespace
