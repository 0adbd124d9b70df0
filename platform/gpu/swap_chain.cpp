// The swap chain: one RGBA8 buffer with an FBO; Present hands it to the
// window, or keeps it for reading back when headless.
#include <cstdio>

#include "platform/gpu/gpu_internal.h"

namespace gpu {
namespace detail {
namespace {

class SwapChainImpl final : public Child<SwapChain> {
  public:
    SwapChainImpl(Core* core, const SwapChainDesc& desc, Texture2DImpl* buffer) : Child(core), desc_(desc) {
        buffer_.Reset(buffer);
        buffer->Release();  // buffer_ holds the only reference
    }

    HRESULT GetBuffer(uint32_t index, Texture2D** buffer) override {
        if (buffer)
            *buffer = nullptr;
        if (buffer == nullptr || index != 0)
            return E_INVALIDARG;
        if (InjectedFailure(testing::CreationKind::SwapChainGetBuffer))
            return E_FAIL;
        buffer_->AddRef();
        *buffer = buffer_.get();
        return S_OK;
    }

    HRESULT ResizeBuffers(uint32_t bufferCount, uint32_t width, uint32_t height, Format format,
                          uint32_t) override {
        if (width == 0 || height == 0 || width > core_->maxTexture2D || height > core_->maxTexture2D ||
            bufferCount > 16)
            return E_INVALIDARG;
        if (format == Format::UNKNOWN)
            format = desc_.BufferDesc.Format;
        if (format != Format::R8G8B8A8_UNORM && format != Format::B8G8R8A8_UNORM)
            return E_INVALIDARG;
        // As in DXGI: every outside reference (views, GetBuffer results) must be
        // gone, or the old buffer would live on unseen. A view that only the
        // context's binding still holds does not count.
        if (core_->immediateContext)
            DropOrphanedRenderTarget(core_->immediateContext, buffer_.get());
        if (buffer_->RefCount() != 1)
            return E_FAIL;
        Texture2DImpl* fresh = nullptr;
        HRESULT hr = CreateSwapChainBuffer(core_, width, height, format, &fresh);
        if (FAILED(hr))
            return hr;
        buffer_.Reset(fresh);
        fresh->Release();
        if (bufferCount != 0)
            desc_.BufferCount = bufferCount;
        desc_.BufferDesc.Width = width;
        desc_.BufferDesc.Height = height;
        desc_.BufferDesc.Format = format;
        return S_OK;
    }

    HRESULT Present(uint32_t, uint32_t) override {
        ++g_presents;
        if (!core_->MakeCurrent())
            return E_FAIL;
        const TextureData& t = buffer_->data();
        if (core_->window) {
            core_->window->PresentImage(t.name, t.width, t.height);
        } else {
            GL_CHECK(glFlush());
        }
        return S_OK;
    }

    HRESULT GetDesc(SwapChainDesc* desc) const override {
        if (desc == nullptr)
            return E_INVALIDARG;
        *desc = desc_;
        return S_OK;
    }

    bool ReadBack(std::vector<uint8_t>* rgba, uint32_t* width, uint32_t* height) {
        if (!core_->MakeCurrent())
            return false;
        const TextureData& t = buffer_->data();
        rgba->resize(size_t(t.width) * t.height * 4);
        // Pack state belongs to whoever touched it last; reset it to plain rows.
        GL_CHECK(glBindBuffer(GL_PIXEL_PACK_BUFFER, 0));
        GL_CHECK(glPixelStorei(GL_PACK_ALIGNMENT, 1));
        GL_CHECK(glPixelStorei(GL_PACK_ROW_LENGTH, 0));
        GL_CHECK(glPixelStorei(GL_PACK_SKIP_PIXELS, 0));
        GL_CHECK(glPixelStorei(GL_PACK_SKIP_ROWS, 0));
        // With the upper-left clip origin, texel row 0 is the image's top row.
        GL_CHECK(glGetTextureImage(t.name, 0, GL_RGBA, GL_UNSIGNED_BYTE, static_cast<GLsizei>(rgba->size()),
                                   rgba->data()));
        *width = t.width;
        *height = t.height;
        return true;
    }

  private:
    SwapChainDesc desc_;
    Ref<Texture2DImpl> buffer_;
};

}  // namespace

SwapChain* NewSwapChain(Core* core, const SwapChainDesc& desc) {
    Texture2DImpl* buffer = nullptr;
    if (FAILED(CreateSwapChainBuffer(core, desc.BufferDesc.Width, desc.BufferDesc.Height,
                                     desc.BufferDesc.Format, &buffer)))
        return nullptr;
    return new SwapChainImpl(core, desc, buffer);
}

}  // namespace detail

bool ReadSwapChainPixels(SwapChain* swapChain, std::vector<uint8_t>* rgba, uint32_t* width,
                         uint32_t* height) {
    if (swapChain == nullptr || rgba == nullptr || width == nullptr || height == nullptr)
        return false;
    return static_cast<detail::SwapChainImpl*>(swapChain)->ReadBack(rgba, width, height);
}

bool testing::ReadBackBuffer(SwapChain* swapChain, std::vector<uint8_t>* rgba, uint32_t* width,
                             uint32_t* height) {
    return ReadSwapChainPixels(swapChain, rgba, width, height);
}

}  // namespace gpu
