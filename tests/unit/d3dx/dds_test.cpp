#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "platform/d3dx/d3dx.h"

namespace {

using d3dx::DdsImage;
using gpu::HRESULT;

// Byte offsets in a whole file (magic included).
constexpr size_t kFlags = 8, kHeight = 12, kWidth = 16, kPitch = 20, kPfFlags = 80, kFourCC = 84,
                 kBitCount = 88, kRedMask = 92, kCaps2 = 112, kPixels = 128;

void Put32(std::vector<uint8_t>* f, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        (*f)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

DdsImage Gradient(uint32_t w, uint32_t h, gpu::Format format) {
    DdsImage img;
    img.width = w;
    img.height = h;
    img.format = format;
    for (uint32_t i = 0; i < w * h * 4; ++i)
        img.pixels.push_back(static_cast<uint8_t>(i * 7 + 1));
    return img;
}

// A DX10-extended file holding the same pixels.
std::vector<uint8_t> Dx10File(const DdsImage& img, uint32_t dxgi, uint32_t dimension = 3,
                              uint32_t arraySize = 1, uint32_t misc = 0) {
    std::vector<uint8_t> f = d3dx::WriteDds(img);
    Put32(&f, kPfFlags, 0x4);
    std::memcpy(&f[kFourCC], "DX10", 4);
    std::vector<uint8_t> ext(20, 0);
    f.insert(f.begin() + kPixels, ext.begin(), ext.end());
    Put32(&f, kPixels, dxgi);
    Put32(&f, kPixels + 4, dimension);
    Put32(&f, kPixels + 8, misc);
    Put32(&f, kPixels + 12, arraySize);
    return f;
}

bool Parse(const std::vector<uint8_t>& f, DdsImage* img, std::string* error) {
    return d3dx::ParseDds(f.data(), f.size(), img, error);
}

TEST(Dds, WrittenFilesReadBackInBothChannelOrders) {
    for (gpu::Format format : {gpu::Format::R8G8B8A8_UNORM, gpu::Format::B8G8R8A8_UNORM}) {
        DdsImage src = Gradient(5, 3, format), back;
        std::vector<uint8_t> file = d3dx::WriteDds(src);
        ASSERT_EQ(file.size(), kPixels + 5 * 3 * 4) << "legacy header then tightly packed rows";
        std::string error;
        ASSERT_TRUE(Parse(file, &back, &error)) << error;
        EXPECT_EQ(back.width, 5u);
        EXPECT_EQ(back.height, 3u);
        EXPECT_EQ(back.format, format);
        EXPECT_EQ(back.pixels, src.pixels);
    }
    EXPECT_TRUE(d3dx::WriteDds(DdsImage{}).empty()) << "nothing to write for an empty image";
    DdsImage wrongSize = Gradient(2, 2, gpu::Format::R8G8B8A8_UNORM);
    wrongSize.pixels.pop_back();
    EXPECT_TRUE(d3dx::WriteDds(wrongSize).empty()) << "pixel count must match the size";
}

TEST(Dds, Dx10HeaderAndExtraMipsAreAccepted) {
    DdsImage src = Gradient(4, 2, gpu::Format::R8G8B8A8_UNORM), back;
    std::string error;
    ASSERT_TRUE(Parse(Dx10File(src, 87), &back, &error)) << error;
    EXPECT_EQ(back.format, gpu::Format::B8G8R8A8_UNORM) << "DXGI 87";
    EXPECT_EQ(back.pixels, src.pixels);
    ASSERT_TRUE(Parse(Dx10File(src, 28), &back, &error)) << error;
    EXPECT_EQ(back.format, gpu::Format::R8G8B8A8_UNORM) << "DXGI 28";

    std::vector<uint8_t> withMips = d3dx::WriteDds(src);
    withMips.resize(withMips.size() + 2 * 1 * 4 + 4, 0xEE);  // 2x1 and 1x1 levels after the top one
    ASSERT_TRUE(Parse(withMips, &back, &error)) << error;
    EXPECT_EQ(back.pixels, src.pixels) << "only the top level is kept";
}

TEST(Dds, RefusesWhatItCannotRepresent) {
    const DdsImage src = Gradient(4, 4, gpu::Format::R8G8B8A8_UNORM);
    const std::vector<uint8_t> good = d3dx::WriteDds(src);
    struct Case {
        const char* what;
        std::vector<uint8_t> file;
        const char* reason;
    };
    std::vector<Case> cases;
    auto edit = [&](const char* what, const char* reason, auto change) {
        std::vector<uint8_t> f = good;
        change(&f);
        cases.push_back({what, std::move(f), reason});
    };
    edit("empty file", "truncated header", [](auto* f) { f->clear(); });
    edit("header cut short", "truncated header", [](auto* f) { f->resize(100); });
    edit("pixels cut short", "truncated pixel data", [](auto* f) { f->pop_back(); });
    edit("wrong magic", "wrong magic", [](auto* f) { (*f)[3] = 'X'; });
    edit("wrong header size", "size field", [](auto* f) { Put32(f, 4, 100); });
    edit("DXT1", "'DXT1'", [](auto* f) {
        Put32(f, kPfFlags, 0x4);
        std::memcpy(&(*f)[kFourCC], "DXT1", 4);
    });
    edit("24-bit", "24 bits", [](auto* f) { Put32(f, kBitCount, 24); });
    edit("no alpha", "with alpha", [](auto* f) { Put32(f, kPfFlags, 0x40); });
    edit("odd masks", "neither RGBA nor BGRA", [](auto* f) { Put32(f, kRedMask, 0x0000ff00); });
    edit("zero width", "zero width", [](auto* f) { Put32(f, kWidth, 0); });
    edit("zero height", "zero width or height", [](auto* f) { Put32(f, kHeight, 0); });
    edit("huge width", "exceeds 16384", [](auto* f) { Put32(f, kWidth, 16385); });
    edit("lying height", "truncated pixel data", [](auto* f) { Put32(f, kHeight, 0x4000); });
    edit("lying pitch", "pitch 20", [](auto* f) { Put32(f, kPitch, 20); });
    edit("cube map", "cube", [](auto* f) { Put32(f, kCaps2, 0x200 | 0xFC00); });
    edit("volume", "volume", [](auto* f) { Put32(f, kCaps2, 0x200000); });
    edit("depth flag", "volume", [](auto* f) {
        Put32(f, kFlags, 0x800000 | 0x1007);
        Put32(f, 24, 4);
    });
    cases.push_back({"DX10 BC1", Dx10File(src, 71), "DXGI format 71"});
    cases.push_back({"DX10 array", Dx10File(src, 28, 3, 6), "arrays"});
    cases.push_back({"DX10 3D", Dx10File(src, 28, 4), "not a 2D texture"});
    cases.push_back({"DX10 cube", Dx10File(src, 28, 3, 1, 0x4), "cube"});
    std::vector<uint8_t> dx10Short = Dx10File(src, 28);
    dx10Short.resize(kPixels + 10);
    cases.push_back({"DX10 header cut short", dx10Short, "truncated DX10 header"});

    for (const Case& c : cases) {
        DdsImage img;
        img.width = 77;
        std::string error;
        // An exact-size copy, so reading past the end is caught by sanitizers.
        std::unique_ptr<uint8_t[]> bytes(new uint8_t[c.file.size() + 1]);
        std::memcpy(bytes.get(), c.file.data(), c.file.size());
        EXPECT_FALSE(d3dx::ParseDds(bytes.get(), c.file.size(), &img, &error)) << c.what;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << c.what << ": one line";
        EXPECT_EQ(img.width, 77u) << c.what << ": image untouched on failure";
    }
}

// ---------------------------------------------------------------------------
// CreateShaderResourceViewFromFile against a recording device.

int g_live = 0;

template <class Base>
class Counted : public Base {
  public:
    Counted() { ++g_live; }
    ~Counted() override { --g_live; }
    uint32_t AddRef() override { return ++refs_; }
    uint32_t Release() override {
        uint32_t left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }
    void GetDevice(gpu::Device** device) override { *device = nullptr; }

  private:
    uint32_t refs_ = 1;
};

class FakeTexture : public Counted<gpu::Texture2D> {
  public:
    gpu::ResourceDimension GetType() const override { return gpu::ResourceDimension::TEXTURE2D; }
    void GetDesc(gpu::Texture2DDesc* desc) const override { *desc = desc_; }
    gpu::Texture2DDesc desc_;
};

class FakeView : public Counted<gpu::ShaderResourceView> {
  public:
    explicit FakeView(gpu::Resource* r) : resource_(r) { resource_->AddRef(); }
    ~FakeView() override { resource_->Release(); }
    void GetDesc(gpu::ShaderResourceViewDesc*) const override {}
    void GetResource(gpu::Resource** r) override {
        resource_->AddRef();
        *r = resource_;
    }
    gpu::Resource* resource_;
};

class FakeDevice : public gpu::Device {
  public:
    uint32_t AddRef() override { return 1; }
    uint32_t Release() override { return 1; }
    HRESULT CreateTexture2D(const gpu::Texture2DDesc* desc, const gpu::SubresourceData* init,
                            gpu::Texture2D** texture) override {
        if (failTexture)
            return gpu::E_OUTOFMEMORY;
        auto* t = new FakeTexture;
        t->desc_ = *desc;
        const auto* p = static_cast<const uint8_t*>(init->pSysMem);
        pixels.assign(p, p + size_t(init->SysMemPitch) * desc->Height);
        pitch = init->SysMemPitch;
        *texture = t;
        return gpu::S_OK;
    }
    HRESULT CreateShaderResourceView(gpu::Resource* r, const gpu::ShaderResourceViewDesc* desc,
                                     gpu::ShaderResourceView** view) override {
        viewDescGiven = desc != nullptr;
        if (failView)
            return gpu::E_FAIL;
        *view = new FakeView(r);
        return gpu::S_OK;
    }
    // Not used by the loader.
    HRESULT CreateBuffer(const gpu::BufferDesc*, const gpu::SubresourceData*, gpu::Buffer**) override {
        return -1;
    }
    HRESULT CreateTexture1D(const gpu::Texture1DDesc*, const gpu::SubresourceData*,
                            gpu::Texture1D**) override {
        return -1;
    }
    HRESULT CreateTexture3D(const gpu::Texture3DDesc*, const gpu::SubresourceData*,
                            gpu::Texture3D**) override {
        return -1;
    }
    HRESULT CreateRenderTargetView(gpu::Resource*, const void*, gpu::RenderTargetView**) override {
        return -1;
    }
    HRESULT CreateSamplerState(const gpu::SamplerDesc*, gpu::SamplerState**) override { return -1; }
    HRESULT CreateBlendState(const gpu::BlendDesc*, gpu::BlendState**) override { return -1; }
    HRESULT CreateRasterizerState(const gpu::RasterizerDesc*, gpu::RasterizerState**) override { return -1; }
    HRESULT CreateInputLayout(const gpu::InputElementDesc*, uint32_t, const void*, size_t,
                              gpu::InputLayout**) override {
        return -1;
    }
    HRESULT CreateVertexShader(const void*, size_t, gpu::ClassLinkage*, gpu::VertexShader**) override {
        return -1;
    }
    HRESULT CreatePixelShader(const void*, size_t, gpu::ClassLinkage*, gpu::PixelShader**) override {
        return -1;
    }
    uint32_t MaxTexture3DSize() const override { return 2048; }
    uint32_t MaxTexture2DSize() const override { return 16384; }

    bool failTexture = false, failView = false, viewDescGiven = false;
    std::vector<uint8_t> pixels;
    uint32_t pitch = 0;
};

class DdsFile : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("tamlo_dds_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
        g_live = 0;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string Write(const char* name, const std::vector<uint8_t>& bytes) {
        std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return path;
    }
    std::filesystem::path dir_;
};

TEST_F(DdsFile, CreatesOneMipShaderResourceTextureAndKeepsOnlyTheViewsReference) {
    DdsImage img = Gradient(3, 2, gpu::Format::B8G8R8A8_UNORM);
    std::string path = Write("a.dds", d3dx::WriteDds(img));
    FakeDevice device;
    gpu::ShaderResourceView* view = nullptr;
    std::string error;
    ASSERT_EQ(d3dx::CreateShaderResourceViewFromFile(&device, path.c_str(), &view, &error), gpu::S_OK)
        << error;
    ASSERT_NE(view, nullptr);
    EXPECT_FALSE(device.viewDescGiven) << "a view of the whole texture";
    gpu::Resource* res = nullptr;
    view->GetResource(&res);
    gpu::Texture2DDesc desc;
    static_cast<gpu::Texture2D*>(res)->GetDesc(&desc);
    EXPECT_EQ(desc.Width, 3u);
    EXPECT_EQ(desc.Height, 2u);
    EXPECT_EQ(desc.MipLevels, 1u);
    EXPECT_EQ(desc.Format, gpu::Format::B8G8R8A8_UNORM);
    EXPECT_EQ(desc.BindFlags, uint32_t(gpu::BIND_SHADER_RESOURCE));
    EXPECT_EQ(device.pitch, 12u);
    EXPECT_EQ(device.pixels, img.pixels) << "initial data is the file's top level";
    res->Release();
    EXPECT_EQ(view->Release(), 0u) << "the caller holds the only reference to the view";
    EXPECT_EQ(g_live, 0) << "releasing the view frees the texture";
}

TEST_F(DdsFile, FailuresNameTheCauseAndLeakNothing) {
    FakeDevice device;
    gpu::ShaderResourceView* view = reinterpret_cast<gpu::ShaderResourceView*>(&device);
    std::string error;
    std::string missing = (dir_ / "missing.dds").string();
    EXPECT_EQ(d3dx::CreateShaderResourceViewFromFile(&device, missing.c_str(), &view, &error),
              gpu::E_NOTFOUND);
    EXPECT_EQ(view, nullptr) << "out pointer cleared";
    EXPECT_NE(error.find("missing.dds"), std::string::npos) << error;
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;

    std::string junk = Write("junk.dds", {'D', 'D', 'S'});
    EXPECT_EQ(d3dx::CreateShaderResourceViewFromFile(&device, junk.c_str(), &view, &error), gpu::E_FAIL);
    EXPECT_NE(error.find("truncated header"), std::string::npos) << error;

    EXPECT_TRUE(gpu::FAILED(d3dx::CreateShaderResourceViewFromFile(&device, dir_.c_str(), &view, &error)))
        << "a directory is not a file";

    std::string good = Write("good.dds", d3dx::WriteDds(Gradient(2, 2, gpu::Format::R8G8B8A8_UNORM)));
    device.failTexture = true;
    EXPECT_EQ(d3dx::CreateShaderResourceViewFromFile(&device, good.c_str(), &view), gpu::E_OUTOFMEMORY)
        << "the device's own failure is passed on";
    device.failTexture = false;
    device.failView = true;
    EXPECT_EQ(d3dx::CreateShaderResourceViewFromFile(&device, good.c_str(), &view, &error), gpu::E_FAIL);
    EXPECT_EQ(view, nullptr);
    EXPECT_EQ(g_live, 0) << "the texture made before the failed view is released";
}

}  // namespace
