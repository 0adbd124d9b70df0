// The device core (GL context ownership), debug GL checks, the creation test
// seams and CreateDeviceAndSwapChain.
#include <array>
#include <cstdio>

#include "platform/gpu/gpu_internal.h"

namespace gpu {
namespace detail {
namespace {

constexpr size_t kKinds = static_cast<size_t>(testing::CreationKind::PixelShader) + 1;
std::array<int, kKinds> g_armedFailures{};  // 0: none armed
int g_liveObjects = 0;

const char* GlErrorName(GLenum e) {
    switch (e) {
        case GL_INVALID_ENUM:
            return "GL_INVALID_ENUM";
        case GL_INVALID_VALUE:
            return "GL_INVALID_VALUE";
        case GL_INVALID_OPERATION:
            return "GL_INVALID_OPERATION";
        case GL_INVALID_FRAMEBUFFER_OPERATION:
            return "GL_INVALID_FRAMEBUFFER_OPERATION";
        case GL_OUT_OF_MEMORY:
            return "GL_OUT_OF_MEMORY";
        default:
            return "GL error";
    }
}

}  // namespace

int g_presents = 0;

void ReportGlErrors(const char* call, const char* file, int line) {
    // Bounded: a lost context can keep answering with errors.
    for (int i = 0; i < 8; ++i) {
        GLenum e = glGetError();
        if (e == GL_NO_ERROR)
            return;
        std::fprintf(stderr, "gpu: %s failed with %s (0x%04x) at %s:%d\n", call, GlErrorName(e), e, file,
                     line);
    }
}

bool InjectedFailure(testing::CreationKind kind) {
    int& left = g_armedFailures[static_cast<size_t>(kind)];
    if (left <= 0)
        return false;
    return --left == 0;
}

void CountLive(int delta) {
    g_liveObjects += delta;
}

// ---------------------------------------------------------------------------
// Core

Core* Core::CreateWindowed(std::shared_ptr<OutputWindow> window) {
    Core* core = new Core;
    core->window = std::move(window);
    if (!core->window->MakeContextCurrent() || !core->InitGl()) {
        core->Release();
        return nullptr;
    }
    return core;
}

Core* Core::CreateHeadless() {
    Core* core = new Core;
    // Mesa's surfaceless platform needs no display server and no window.
    // epoxy only dispatches EGL 1.5 entry points once a display shows 1.5,
    // which no display can before this call; ask the loader directly.
    auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYPROC>(eglGetProcAddress("eglGetPlatformDisplay"));
    if (getPlatformDisplay != nullptr)
        core->display_ = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    EGLint major = 0, minor = 0;
    if (core->display_ == EGL_NO_DISPLAY || !eglInitialize(core->display_, &major, &minor) ||
        !eglBindAPI(EGL_OPENGL_API)) {
        std::fprintf(stderr, "gpu: no surfaceless EGL display (0x%x)\n", eglGetError());
        core->Release();
        return nullptr;
    }
    EGLConfig config = EGL_NO_CONFIG_KHR;
    if (!epoxy_has_egl_extension(core->display_, "EGL_KHR_no_config_context")) {
        const EGLint want[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_SURFACE_TYPE, EGL_PBUFFER_BIT,
                               EGL_NONE};
        EGLint found = 0;
        if (!eglChooseConfig(core->display_, want, &config, 1, &found) || found < 1) {
            std::fprintf(stderr, "gpu: no EGL config for desktop OpenGL\n");
            core->Release();
            return nullptr;
        }
    }
    const EGLint attributes[] = {EGL_CONTEXT_MAJOR_VERSION,
                                 4,
                                 EGL_CONTEXT_MINOR_VERSION,
                                 5,
                                 EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                 EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                 EGL_NONE};
    core->context_ = eglCreateContext(core->display_, config, EGL_NO_CONTEXT, attributes);
    if (core->context_ == EGL_NO_CONTEXT || !core->MakeCurrent() || !core->InitGl()) {
        std::fprintf(stderr, "gpu: no OpenGL 4.5 core context through EGL (0x%x)\n", eglGetError());
        core->Release();
        return nullptr;
    }
    return core;
}

bool Core::InitGl() {
    // Anything older than 4.5 core lacks direct state access and clip control.
    GLint profile = 0;
    if (!epoxy_is_desktop_gl() || epoxy_gl_version() < 45)
        return false;
    glGetIntegerv(GL_CONTEXT_PROFILE_MASK, &profile);
    if ((profile & GL_CONTEXT_CORE_PROFILE_BIT) == 0)
        return false;

    GLint v = 0;
    glGetIntegerv(GL_MAX_3D_TEXTURE_SIZE, &v);
    maxTexture3D = static_cast<GLuint>(v);
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &v);
    maxTexture2D = static_cast<GLuint>(v);
    glGetIntegerv(GL_MAX_ARRAY_TEXTURE_LAYERS, &v);
    maxArrayLayers = static_cast<GLuint>(v);
    glGetIntegerv(GL_MAX_UNIFORM_BUFFER_BINDINGS, &maxUniformBindings);
    glGetIntegerv(GL_MAX_COMBINED_TEXTURE_IMAGE_UNITS, &maxTextureUnits);
    const GLubyte* name = glGetString(GL_RENDERER);
    rendererName = name != nullptr ? reinterpret_cast<const char*>(name) : "";

    // Direct3D samples with linear filtering and clamping when no sampler is bound.
    GL_CHECK(glCreateSamplers(1, &defaultSampler));
    GL_CHECK(glSamplerParameteri(defaultSampler, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR));
    GL_CHECK(glSamplerParameteri(defaultSampler, GL_TEXTURE_MAG_FILTER, GL_LINEAR));
    for (GLenum wrap : {GL_TEXTURE_WRAP_S, GL_TEXTURE_WRAP_T, GL_TEXTURE_WRAP_R})
        GL_CHECK(glSamplerParameteri(defaultSampler, wrap, GL_CLAMP_TO_EDGE));
    GL_CHECK(glClipControl(GL_UPPER_LEFT, GL_ZERO_TO_ONE));
    return defaultSampler != 0;
}

bool Core::MakeCurrent() {
    if (window)
        return window->MakeContextCurrent();
    if (context_ == EGL_NO_CONTEXT)
        return false;
    if (eglGetCurrentContext() == context_)
        return true;
    return eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, context_) == EGL_TRUE;
}

void Core::Release() {
    if (--refs_ == 0)
        delete this;
}

Core::~Core() {
    if (defaultSampler != 0 && MakeCurrent())
        GL_CHECK(glDeleteSamplers(1, &defaultSampler));
    if (context_ != EGL_NO_CONTEXT) {
        if (eglGetCurrentContext() == context_)
            eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        eglDestroyContext(display_, context_);
    }
    // The display stays initialised: EGL shares it across the process, and
    // another headless device may still be using it.
}

}  // namespace detail

// ---------------------------------------------------------------------------
// Creation

HRESULT CreateDeviceAndSwapChain(const SwapChainDesc* desc, SwapChain** swapChain, Device** device,
                                 DeviceContext** context) {
    if (swapChain)
        *swapChain = nullptr;
    if (device)
        *device = nullptr;
    if (context)
        *context = nullptr;
    if (desc == nullptr || swapChain == nullptr || device == nullptr || context == nullptr)
        return E_INVALIDARG;
    const ModeDesc& mode = desc->BufferDesc;
    if (mode.Width == 0 || mode.Height == 0)
        return E_INVALIDARG;
    if (mode.Format != Format::R8G8B8A8_UNORM && mode.Format != Format::B8G8R8A8_UNORM)
        return E_INVALIDARG;
    if (desc->SampleDesc.Count != 1 || desc->SampleDesc.Quality != 0)
        return E_INVALIDARG;
    if (desc->BufferCount < 1 || desc->BufferCount > 16 || desc->SwapEffect != SwapEffect::DISCARD)
        return E_INVALIDARG;
    if (detail::InjectedFailure(testing::CreationKind::DeviceAndSwapChain))
        return E_FAIL;

    detail::Core* core = desc->OutputWindow ? detail::Core::CreateWindowed(desc->OutputWindow)
                                            : detail::Core::CreateHeadless();
    if (core == nullptr)
        return E_FAIL;
    if (mode.Width > core->maxTexture2D || mode.Height > core->maxTexture2D) {
        core->Release();
        return E_INVALIDARG;
    }
    SwapChain* chain = detail::NewSwapChain(core, *desc);
    if (chain == nullptr) {
        core->Release();
        return E_FAIL;
    }
    *device = detail::NewDevice(core);
    *context = detail::NewDeviceContext(core);
    *swapChain = chain;
    core->Release();  // the three objects hold their own references
    return S_OK;
}

namespace testing {

void FailNthCreation(CreationKind kind, int n) {
    detail::g_armedFailures[static_cast<size_t>(kind)] = n > 0 ? n : 0;
}

void ClearCreationFailures() {
    detail::g_armedFailures.fill(0);
}

int PresentCount() {
    return detail::g_presents;
}

int LiveObjectCount() {
    return detail::g_liveObjects;
}

}  // namespace testing
}  // namespace gpu
