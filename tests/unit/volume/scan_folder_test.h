// A test's own scratch folder for the scans it writes, and reading them
// back through the readers: read, or refused in one line.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "volume/scan_import.h"

class ScanFolderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("tamlo-scan-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    static ScanVolume Read(const std::string& path) {
        ScanVolume volume;
        std::string error;
        EXPECT_TRUE(ReadScan(path, &volume, &error)) << path << ": " << error;
        return volume;
    }

    static std::string Refusal(const std::string& path) {
        ScanVolume volume;
        std::string error;
        EXPECT_FALSE(ReadScan(path, &volume, &error)) << path << " was read";
        EXPECT_EQ(volume.samples, nullptr);
        EXPECT_EQ(error.find('\n'), std::string::npos) << "one line: " << error;
        return error;
    }

    std::filesystem::path dir_;
};
