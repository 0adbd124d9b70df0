// Runs the GLSL that CompileFromMemory makes on a real GL 4.5 context (Mesa's
// surfaceless EGL, no window) and checks that HLSL's mul(v, M) and mul(M, v)
// keep their meaning when the matrix is uploaded the way the program does it:
// a row-major D3DX matrix, transposed.
#include <epoxy/egl.h>
#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include "platform/d3dx/d3dx.h"
#include "platform/d3dx/d3dx_math.h"
#include "platform/gpu/shader_bytecode.h"

namespace {

// The vertex stage works out both products and hands them on as varyings;
// the pixel stage works them out again from its own bindings, and reads
// single elements the way the volume shader picks a column. Pixel x picks
// which of the five results it writes.
constexpr char kShader[] = R"(
cbuffer cbVector : register(b0) { float4 V; };
cbuffer cbMatrix : register(b2) { float4x4 M; };
struct VS_OUTPUT { float4 Pos : SV_POSITION; float4 RowTimesM : TEXCOORD0; float4 MTimesColumn : TEXCOORD1; };

VS_OUTPUT VS(uint id : SV_VertexID) {
    VS_OUTPUT o;
    o.Pos = float4(id == 1 ? 3.0 : -1.0, id == 2 ? 3.0 : -1.0, 0.5, 1.0);
    o.RowTimesM = mul(V, M);
    o.MTimesColumn = mul(M, V);
    return o;
}

float4 PS(VS_OUTPUT i) : SV_Target {
    if (i.Pos.x < 1) return i.RowTimesM;
    if (i.Pos.x < 2) return i.MTimesColumn;
    if (i.Pos.x < 3) return mul(V, M);
    if (i.Pos.x < 4) return mul(M, V);
    return float4(M[0][2], M[1][2], M[2][2], M[3][0]);
}
)";

class HeadlessGl {
  public:
    bool Open() {
        display_ = eglGetPlatformDisplayEXT(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (display_ == EGL_NO_DISPLAY || !eglInitialize(display_, nullptr, nullptr))
            return false;
        eglBindAPI(EGL_OPENGL_API);
        const EGLint configAttribs[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE,
                                        EGL_OPENGL_BIT, EGL_NONE};
        EGLConfig config;
        EGLint count = 0;
        if (!eglChooseConfig(display_, configAttribs, &config, 1, &count) || count == 0)
            return false;
        const EGLint contextAttribs[] = {EGL_CONTEXT_MAJOR_VERSION,
                                         4,
                                         EGL_CONTEXT_MINOR_VERSION,
                                         5,
                                         EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                         EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                         EGL_NONE};
        context_ = eglCreateContext(display_, config, EGL_NO_CONTEXT, contextAttribs);
        return context_ != EGL_NO_CONTEXT &&
               eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, context_);
    }
    ~HeadlessGl() {
        if (context_ != EGL_NO_CONTEXT) {
            eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
            eglDestroyContext(display_, context_);
        }
        if (display_ != EGL_NO_DISPLAY)
            eglTerminate(display_);
    }

  private:
    EGLDisplay display_ = EGL_NO_DISPLAY;
    EGLContext context_ = EGL_NO_CONTEXT;
};

gpu::ShaderBytecodeInfo Compile(const char* entry, const char* profile) {
    gpu::Blob* blob = nullptr;
    gpu::Blob* errors = nullptr;
    gpu::ShaderBytecodeInfo info;
    d3dx::CompileFromMemory(kShader, sizeof kShader - 1, "matrix.fx", entry, profile, &blob, &errors);
    EXPECT_NE(blob, nullptr) << (errors ? static_cast<const char*>(errors->GetBufferPointer()) : "");
    if (blob) {
        EXPECT_TRUE(gpu::ParseShaderBytecode(blob->GetBufferPointer(), blob->GetBufferSize(), &info));
        blob->Release();
    }
    if (errors)
        errors->Release();
    return info;
}

GLuint Program(GLenum type, const std::string& glsl) {
    const char* text = glsl.c_str();
    GLuint program = glCreateShaderProgramv(type, 1, &text);
    GLint ok = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (!ok) {
        char log[2048] = {};
        glGetProgramInfoLog(program, sizeof log, nullptr, log);
        ADD_FAILURE() << log << "\n" << glsl;
    }
    return program;
}

uint32_t BindingOf(const gpu::ShaderBytecodeInfo& info, uint32_t slot) {
    for (const auto& cb : info.constantBuffers) {
        if (cb.registerSlot == slot)
            return cb.glBinding;
    }
    ADD_FAILURE() << "no cbuffer at b" << slot;
    return 0;
}

TEST(D3dxGpu, MatrixProductsKeepTheirHlslMeaning) {
    HeadlessGl gl;
    if (!gl.Open())
        GTEST_SKIP() << "no OpenGL 4.5 core context through surfaceless EGL";
    const gpu::ShaderBytecodeInfo vs = Compile("VS", "vs_5_0"), ps = Compile("PS", "ps_5_0");
    ASSERT_FALSE(vs.glsl.empty() || ps.glsl.empty());

    // An asymmetric matrix, so a transposition anywhere shows.
    d3dx::Matrix m, rx, ry, t;
    d3dx::MatrixRotationX(&rx, 0.7f);
    d3dx::MatrixRotationY(&ry, -0.3f);
    d3dx::MatrixTranslation(&t, 1.5f, -2.0f, 3.25f);
    d3dx::MatrixMultiply(&m, &rx, &ry);
    d3dx::MatrixMultiply(&m, &m, &t);
    m.m[0][3] = 0.25f;  // a projective column too
    const d3dx::Vector3 v{0.5f, -1.0f, 2.0f};
    d3dx::Vector4 rowTimesM, mTimesColumn;
    d3dx::Vec3Transform(&rowTimesM, &v, &m);  // (v, 1) * M
    d3dx::Matrix mt;
    d3dx::MatrixTranspose(&mt, &m);
    d3dx::Vec3Transform(&mTimesColumn, &v, &mt);  // M * (v, 1)

    // The program's upload: the transposed matrix, as sixteen floats.
    const float vector[4] = {v.x, v.y, v.z, 1.0f};
    GLuint buffers[2];
    glCreateBuffers(2, buffers);
    glNamedBufferData(buffers[0], sizeof vector, vector, GL_STATIC_DRAW);
    glNamedBufferData(buffers[1], sizeof mt, &mt, GL_STATIC_DRAW);
    glBindBufferBase(GL_UNIFORM_BUFFER, BindingOf(vs, 0), buffers[0]);
    glBindBufferBase(GL_UNIFORM_BUFFER, BindingOf(vs, 2), buffers[1]);
    glBindBufferBase(GL_UNIFORM_BUFFER, BindingOf(ps, 0), buffers[0]);
    glBindBufferBase(GL_UNIFORM_BUFFER, BindingOf(ps, 2), buffers[1]);

    GLuint target, framebuffer, vao, pipeline;
    glCreateTextures(GL_TEXTURE_2D, 1, &target);
    glTextureStorage2D(target, 1, GL_RGBA32F, 5, 1);
    glCreateFramebuffers(1, &framebuffer);
    glNamedFramebufferTexture(framebuffer, GL_COLOR_ATTACHMENT0, target, 0);
    ASSERT_EQ(glCheckNamedFramebufferStatus(framebuffer, GL_FRAMEBUFFER), GLenum(GL_FRAMEBUFFER_COMPLETE));
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glViewport(0, 0, 5, 1);
    glCreateVertexArrays(1, &vao);
    glBindVertexArray(vao);
    const GLuint vsProgram = Program(GL_VERTEX_SHADER, vs.glsl),
                 psProgram = Program(GL_FRAGMENT_SHADER, ps.glsl);
    glCreateProgramPipelines(1, &pipeline);
    glUseProgramStages(pipeline, GL_VERTEX_SHADER_BIT, vsProgram);
    glUseProgramStages(pipeline, GL_FRAGMENT_SHADER_BIT, psProgram);
    glBindProgramPipeline(pipeline);
    glDrawArrays(GL_TRIANGLES, 0, 3);

    float pixels[5][4] = {};
    glReadPixels(0, 0, 5, 1, GL_RGBA, GL_FLOAT, pixels);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));

    const d3dx::Vector4 elements{m.m[0][2], m.m[1][2], m.m[2][2], m.m[3][0]};
    const d3dx::Vector4 expected[5] = {rowTimesM, mTimesColumn, rowTimesM, mTimesColumn, elements};
    const char* what[5] = {"vertex stage mul(v, M)", "vertex stage mul(M, v)", "pixel stage mul(v, M)",
                           "pixel stage mul(M, v)", "M[row][column] is the program's m[row][column]"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_NEAR(pixels[i][0], expected[i].x, 1e-4f) << what[i];
        EXPECT_NEAR(pixels[i][1], expected[i].y, 1e-4f) << what[i];
        EXPECT_NEAR(pixels[i][2], expected[i].z, 1e-4f) << what[i];
        EXPECT_NEAR(pixels[i][3], expected[i].w, 1e-4f) << what[i];
    }

    glBindProgramPipeline(0);
    glDeleteProgramPipelines(1, &pipeline);
    glDeleteProgram(vsProgram);
    glDeleteProgram(psProgram);
    glDeleteVertexArrays(1, &vao);
    glDeleteFramebuffers(1, &framebuffer);
    glDeleteTextures(1, &target);
    glDeleteBuffers(2, buffers);
}

}  // namespace
