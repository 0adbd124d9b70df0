// Every way start-up can fail: exactly one message box with its text and
// caption, no frame drawn, exit code 0.
#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "platform/gpu/gpu.h"
#include "render/data_folders.h"
#include "tests/gpu/viewer/viewer_harness.h"

namespace viewer_test {
namespace {

using gpu::testing::CreationKind;

struct Injected {
    CreationKind kind;
    int nth;
    const char* text;
    const char* caption;
};

const Injected kInjected[] = {
    {CreationKind::DeviceAndSwapChain, 1, "unable to create swap chain", "error"},
    {CreationKind::SwapChainGetBuffer, 1, "unable to get back buffer", "error"},
    {CreationKind::RenderTargetView, 1, "unable to create render target view", "error"},
    {CreationKind::RasterizerState, 1, "CreateRasterizerState failed", "error"},
    {CreationKind::BlendState, 1, "CreateBlendState failed", "error"},
    {CreationKind::BlendState, 2, "CreateBlendState failed", "error"},
    {CreationKind::BlendState, 4, "CreateBlendState failed", "error"},
    {CreationKind::VertexShader, 1, "CreateVertexShader failed", "error"},
    {CreationKind::VertexShader, 3, "CreateVertexShader failed", "error"},
    {CreationKind::InputLayout, 1, "CreateInputLayout failed", "error"},
    {CreationKind::InputLayout, 2, "CreateInputLayout failed", "error"},
    {CreationKind::PixelShader, 1, "CreatePixelShader failed", "error"},
    {CreationKind::PixelShader, 3, "CreatePixelShader failed", "error"},
    {CreationKind::PixelShader, 6, "CreatePixelShader failed", "error"},
    {CreationKind::SamplerState, 1, "CreateSamplerState failed (simple tex sampler)", "error"},
    {CreationKind::SamplerState, 2, "CreateSamplerState failed (volume sampler)", "error"},
    {CreationKind::SamplerState, 3, "CreateSamplerState failed (transfer sampler)", "error"},
    {CreationKind::Buffer, 1, "CreateBuffer failed (rot vertex buffer)", "error"},
    {CreationKind::Buffer, 2, "CreateBuffer failed (rot index buffer)", "error"},
    {CreationKind::Buffer, 3, "CreateBuffer failed (cbChangeOnResize)", "error"},
    {CreationKind::Buffer, 4, "CreateBuffer failed (cbChangeFrameUI)", "error"},
    {CreationKind::Buffer, 5, "CreateBuffer failed (cbChangeFrameVolume)", "error"},
    {CreationKind::Buffer, 6, "CreateBuffer failed (cbChangeOnVolume)", "error"},
    {CreationKind::Texture2D, 1, "D3DX11CreateShaderResourceViewFromFile failed (tam_ui.dds)", "error"},
    {CreationKind::ShaderResourceView, 1, "D3DX11CreateShaderResourceViewFromFile failed (tam_ui.dds)",
     "error"},
    {CreationKind::Buffer, 7, "CreateBuffer failed (vertex buffer)", "CTab"},
    {CreationKind::Buffer, 8, "CreateBuffer failed (index buffer)", "CTab"},
    {CreationKind::Buffer, 9, "CreateBuffer failed (vertex clr buffer)", "CTab"},
    {CreationKind::Buffer, 10, "CreateBuffer failed (index clr buffer)", "CTab"},
    {CreationKind::Texture1D, 1, "CreateTexture1D failed", "CTab::GenerateTransfer"},
    {CreationKind::ShaderResourceView, 2, "CreateShaderResourceView failed", "CTab::GenerateTransfer"},
};

class StartupFailureTest : public ViewerTest {};

TEST_F(StartupFailureTest, EachInjectedCreationFailureEndsStartUpWithItsMessage) {
    for (const Injected& f : kInjected) {
        SCOPED_TRACE(f.text);
        SCOPED_TRACE(f.nth);
        TearDown();
        SetUp();
        gpu::testing::FailNthCreation(f.kind, f.nth);
        EXPECT_EQ(Run({}), 0);
        ASSERT_EQ(boxes_.size(), 1u) << "exactly one message box";
        EXPECT_EQ(boxes_[0].text, f.text);
        EXPECT_EQ(boxes_[0].caption, f.caption);
        EXPECT_FALSE(boxes_[0].hadOwner);
        EXPECT_EQ(gpu::testing::PresentCount(), presentsAtStart_) << "no frame is drawn";
    }
}

// Runs start-up from a folder holding copies of the data files, changed by `edit`.
class DataFileTest : public ViewerTest {
  protected:
    void RunIn(const std::function<void(const std::string& dir)>& edit) {
        const std::string dir = ScratchDir();
        std::filesystem::copy_file(DataDir() + "/fx.fx", dir + "/fx.fx");
        std::filesystem::copy_file(DataDir() + "/tam_ui.dds", dir + "/tam_ui.dds");
        edit(dir);
        ASSERT_EQ(::chdir(dir.c_str()), 0);
        EXPECT_EQ(Run({}), 0);
    }

    static void Replace(const std::string& path, const std::string& from, const std::string& to) {
        std::ifstream in(path);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const size_t at = text.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        text.replace(at, from.size(), to);
        std::ofstream(path, std::ios::trunc) << text;
    }
};

TEST_F(DataFileTest, MissingShaderSourceIsAVertexShaderBuildError) {
    RunIn([](const std::string& dir) { std::filesystem::remove(dir + "/fx.fx"); });
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].caption, "error building vertex shader");
    EXPECT_NE(boxes_[0].text.find("fx.fx"), std::string::npos) << boxes_[0].text;
    EXPECT_EQ(gpu::testing::PresentCount(), presentsAtStart_);
}

TEST_F(DataFileTest, BrokenVertexShaderShowsTheCompilersText) {
    RunIn([](const std::string& dir) {
        Replace(dir + "/fx.fx", "output.texcoord = input.texcoord;\n    return output;\n}\n\nfloat4 PS_STex",
                "output.texcoord = input.texcoord\n    return output;\n}\n\nfloat4 PS_STex");
    });
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].caption, "error building vertex shader");
    EXPECT_NE(boxes_[0].text.find("fx.fx:"), std::string::npos) << "the compiler names file and line";
    EXPECT_NE(boxes_[0].text.find("error"), std::string::npos) << boxes_[0].text;
}

// The whole file must compile for every entry point, so a pixel shader that
// is missing (here renamed) is what fails the pixel-shader step alone.
TEST_F(DataFileTest, BrokenPixelShaderShowsTheFixedMessage) {
    RunIn([](const std::string& dir) { Replace(dir + "/fx.fx", "float4 PS_SClr(", "float4 PS_SClrGone("); });
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "D3DX11CompileFromFile failed on pixel shader");
    EXPECT_EQ(boxes_[0].caption, "error");
}

TEST_F(DataFileTest, MissingAtlasIsReportedAfterTheShaders) {
    std::string dir;
    RunIn([&](const std::string& d) {
        dir = d;
        std::filesystem::remove(d + "/tam_ui.dds");
    });
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text.rfind("D3DX11CreateShaderResourceViewFromFile failed (tam_ui.dds)\n", 0), 0u)
        << boxes_[0].text;
    EXPECT_NE(boxes_[0].text.find(dir + " (the working folder)"), std::string::npos)
        << "the folders looked in are named: " << boxes_[0].text;
    EXPECT_EQ(boxes_[0].caption, "error");
    EXPECT_EQ(gpu::testing::PresentCount(), presentsAtStart_);
}

// Away from the working folder each file is taken from the first of the
// program's folders that holds it; none holding it is the message naming them.
TEST_F(DataFileTest, FilesMissingHereComeFromTheNextFolderThatHasThem) {
    const std::string elsewhere = ScratchDir() + "/share";
    std::filesystem::create_directory(elsewhere);
    std::filesystem::copy_file(DataDir() + "/fx.fx", elsewhere + "/fx.fx");
    std::filesystem::copy_file(DataDir() + "/tam_ui.dds", elsewhere + "/tam_ui.dds");
    SetProgramDataFolders({"", ScratchDir() + "/empty", elsewhere});
    RunIn([](const std::string& dir) {
        std::filesystem::remove(dir + "/fx.fx");
        std::filesystem::remove(dir + "/tam_ui.dds");
    });
    EXPECT_TRUE(boxes_.empty()) << boxes_[0].text;
    EXPECT_GT(gpu::testing::PresentCount(), presentsAtStart_) << "frames were drawn";

    TearDown();
    SetUp();
    SetProgramDataFolders({"", "/nonexistent/share/tamlo"});
    RunIn([](const std::string& dir) { std::filesystem::remove(dir + "/fx.fx"); });
    SetProgramDataFolders(MakeDataFolders(ExecutableFolder(), "../data"));
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].caption, "error building vertex shader");
    EXPECT_NE(boxes_[0].text.find("cannot read 'fx.fx'"), std::string::npos) << boxes_[0].text;
    EXPECT_NE(boxes_[0].text.find("(the working folder), /nonexistent/share/tamlo"), std::string::npos)
        << boxes_[0].text;
}

TEST_F(DataFileTest, AnAtlasThatIsNotADdsIsRefusedLikeAMissingOne) {
    RunIn([](const std::string& dir) {
        std::ofstream(dir + "/tam_ui.dds", std::ios::trunc) << "not a texture";
    });
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "D3DX11CreateShaderResourceViewFromFile failed (tam_ui.dds)");
}

}  // namespace
}  // namespace viewer_test
