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

}  // namespace
