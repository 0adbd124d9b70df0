#include <new>
#include <vector>

#include "platform/gpu/gpu.h"

namespace gpu {
namespace {

class BlobImpl final : public Blob {
  public:
    BlobImpl(const void* data, size_t size)
        : bytes_(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size) {}
    uint32_t AddRef() override { return ++refs_; }
    uint32_t Release() override {
        uint32_t left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }
    const void* GetBufferPointer() const override { return bytes_.data(); }
    size_t GetBufferSize() const override { return bytes_.size(); }

  private:
    std::vector<uint8_t> bytes_;
    uint32_t refs_ = 1;
};

}  // namespace

HRESULT CreateBlob(const void* data, size_t size, Blob** blob) {
    if (blob == nullptr || (data == nullptr && size != 0))
        return E_INVALIDARG;
    *blob = new (std::nothrow) BlobImpl(data, size);
    return *blob ? S_OK : E_OUTOFMEMORY;
}

}  // namespace gpu
