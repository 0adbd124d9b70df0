// The intrusive reference count behind every COM-shaped object of the
// platform layers (GPU objects, blobs): AddRef and Release as Direct3D's, the
// object deleting itself when its last reference goes.
#pragma once

#include <cstdint>

namespace platform {

// Interface declares AddRef and Release as pure virtuals and a virtual
// destructor; a new object starts with one reference, its creator's.
template <class Interface>
class RefCounted : public Interface {
  public:
    uint32_t AddRef() override { return ++refs_; }
    // Returns the references that remain; at none the object is gone.
    uint32_t Release() override {
        const uint32_t left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }
    uint32_t RefCount() const { return refs_; }

  protected:
    RefCounted() = default;
    ~RefCounted() override = default;

  private:
    uint32_t refs_ = 1;
};

}  // namespace platform
