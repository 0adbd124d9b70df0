#include <new>
#include <vector>

#include "platform/gpu/gpu.h"
#include "platform/ref_counted.h"

namespace gpu {
namespace {

class BlobImpl final : public platform::RefCounted<Blob> {
  public:
    BlobImpl(const void* data, size_t size)
        : bytes_(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size) {}
    const void* GetBufferPointer() const override { return bytes_.data(); }
    size_t GetBufferSize() const override { return bytes_.size(); }

  private:
    std::vector<uint8_t> bytes_;
};

}  // namespace

HRESULT CreateBlob(const void* data, size_t size, Blob** blob) {
    if (blob == nullptr || (data == nullptr && size != 0))
        return E_INVALIDARG;
    *blob = new (std::nothrow) BlobImpl(data, size);
    return *blob ? S_OK : E_OUTOFMEMORY;
}

}  // namespace gpu
