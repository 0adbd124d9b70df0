// The one reference count of the platform layers: the counts it reports and
// the moment it deletes, through a bare object and through a blob.
#include "platform/ref_counted.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/gpu/gpu.h"

namespace {

class Probe final : public platform::RefCounted<gpu::Unknown> {
  public:
    explicit Probe(int* destroyed) : destroyed_(destroyed) {}
    ~Probe() override { ++*destroyed_; }

  private:
    int* destroyed_;
};

TEST(RefCounted, ReportsTheCountAndDeletesOnceAtTheLastRelease) {
    int destroyed = 0;
    auto* p = new Probe(&destroyed);
    EXPECT_EQ(p->RefCount(), 1u) << "a new object holds its creator's reference";
    EXPECT_EQ(p->AddRef(), 2u) << "AddRef returns the references after it";
    EXPECT_EQ(p->AddRef(), 3u);
    EXPECT_EQ(p->Release(), 2u) << "Release returns the references that remain";
    EXPECT_EQ(p->Release(), 1u);
    EXPECT_EQ(destroyed, 0) << "alive while a reference remains";
    EXPECT_EQ(p->Release(), 0u);
    EXPECT_EQ(destroyed, 1) << "deleted exactly when the last reference goes";
}

TEST(RefCounted, BlobKeepsItsBytesUntilItsLastRelease) {
    const char text[] = "bytes";
    gpu::Blob* blob = nullptr;
    ASSERT_EQ(gpu::CreateBlob(text, sizeof text, &blob), gpu::S_OK);
    ASSERT_NE(blob, nullptr);
    EXPECT_EQ(blob->AddRef(), 2u) << "a blob starts with one reference";
    EXPECT_EQ(blob->Release(), 1u);
    ASSERT_EQ(blob->GetBufferSize(), sizeof text);
    EXPECT_EQ(std::memcmp(blob->GetBufferPointer(), text, sizeof text), 0) << "the bytes survive a release";
    EXPECT_EQ(blob->Release(), 0u) << "the last release frees it";
}

}  // namespace
