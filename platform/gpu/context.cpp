// The immediate context: records Direct3D state and applies all of it to GL at
// each draw, since other code (the menu's drawing) shares the GL context.
//
// Sections: helpers · setters · clear and update · draw (checks, then state).
#include <algorithm>
#include <cstdio>

#include "platform/gpu/gpu_internal.h"

namespace gpu::detail {
namespace {

constexpr uint32_t kConstantSlots = 14;  // b0..b13 per stage
constexpr uint32_t kResourceSlots = 16;  // t0..t15
constexpr uint32_t kSamplerSlots = 16;   // s0..s15
constexpr uint32_t kVertexSlots = 16;

// The upper-left clip origin flips the facing computation along with the y
// axis, so GL's winding is the one seen on screen (checked by the tests).
constexpr GLenum kClockwiseOnScreen = GL_CW;
constexpr GLenum kCounterClockwiseOnScreen = GL_CCW;

// Calls that Direct3D would silently ignore; debug builds say why.
void Ignored([[maybe_unused]] const char* what) {
#ifndef NDEBUG
    std::fprintf(stderr, "gpu: %s\n", what);
#endif
}

GLenum GlBlend(Blend b) {
    switch (b) {
        case Blend::ZERO:
            return GL_ZERO;
        case Blend::ONE:
            return GL_ONE;
        case Blend::SRC_ALPHA:
            return GL_SRC_ALPHA;
        default:
            return GL_ONE_MINUS_SRC_ALPHA;
    }
}

GLenum GlBlendOp(BlendOp op) {
    switch (op) {
        case BlendOp::MIN:
            return GL_MIN;
        case BlendOp::MAX:
            return GL_MAX;
        default:
            return GL_FUNC_ADD;
    }
}

// Binds a range of slots, Direct3D style: a null array clears them; a range
// past the last slot is ignored as a whole.
template <class T, size_t N>
bool SetSlots(Ref<T> (&slots)[N], uint32_t start, uint32_t count, T* const* items) {
    if (start > N || count > N - start) {
        Ignored("slot range beyond the last slot ignored");
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        T* item = items ? items[i] : nullptr;
        slots[start + i].Reset(item);
    }
    return true;
}

class DeviceContextImpl final : public Child<DeviceContext> {
  public:
    explicit DeviceContextImpl(Core* core) : Child(core) {
        core_->immediateContext = this;
        if (core_->MakeCurrent()) {
            GL_CHECK(glCreateVertexArrays(1, &vao_));
            GL_CHECK(glCreateProgramPipelines(1, &pipeline_));
        }
    }

    // -----------------------------------------------------------------------
    // Setters: record only; GL hears of them at the next draw.

    void IASetInputLayout(InputLayout* layout) override { layout_.Reset(layout); }

    void IASetVertexBuffers(uint32_t start, uint32_t count, Buffer* const* buffers, const uint32_t* strides,
                            const uint32_t* offsets) override {
        if (!SetSlots(vertexBuffers_, start, count, buffers))
            return;
        for (uint32_t i = 0; i < count; ++i) {
            strides_[start + i] = strides ? strides[i] : 0;
            offsets_[start + i] = offsets ? offsets[i] : 0;
        }
    }

    void IASetIndexBuffer(Buffer* buffer, Format format, uint32_t offset) override {
        indexBuffer_.Reset(buffer);
        indexFormat_ = format;
        indexOffset_ = offset;
    }

    void IASetPrimitiveTopology(PrimitiveTopology topology) override { topology_ = topology; }

    void VSSetShader(VertexShader* shader, ClassInstance* const*, uint32_t) override { vs_.Reset(shader); }
    void VSSetConstantBuffers(uint32_t start, uint32_t count, Buffer* const* buffers) override {
        SetSlots(vsConstants_, start, count, buffers);
    }

    void PSSetShader(PixelShader* shader, ClassInstance* const*, uint32_t) override { ps_.Reset(shader); }
    void PSSetConstantBuffers(uint32_t start, uint32_t count, Buffer* const* buffers) override {
        SetSlots(psConstants_, start, count, buffers);
    }
    void PSSetShaderResources(uint32_t start, uint32_t count, ShaderResourceView* const* views) override {
        SetSlots(psViews_, start, count, views);
    }
    void PSSetSamplers(uint32_t start, uint32_t count, SamplerState* const* samplers) override {
        SetSlots(psSamplers_, start, count, samplers);
    }

    void RSSetState(RasterizerState* state) override { rasterizer_.Reset(state); }
    void RSSetViewports(uint32_t count, const Viewport* viewports) override {
        // One render target, so only the first viewport matters.
        hasViewport_ = count > 0 && viewports != nullptr;
        if (hasViewport_)
            viewport_ = viewports[0];
    }
    void RSSetScissorRects(uint32_t count, const Rect* rects) override {
        scissor_ = count > 0 && rects != nullptr ? rects[0] : Rect{};
    }

    void OMSetRenderTargets(uint32_t count, RenderTargetView* const* views, DepthStencilView*) override {
        renderTarget_.Reset(count > 0 && views ? views[0] : nullptr);
    }
    void OMSetBlendState(BlendState* state, const float blendFactor[4], uint32_t) override {
        blend_.Reset(state);
        for (int i = 0; i < 4; ++i)
            blendFactor_[i] = blendFactor ? blendFactor[i] : 1.0f;
    }

    // -----------------------------------------------------------------------
    // Clear and update

    void Flush() override {
        if (core_->MakeCurrent())
            glFinish();
    }

    void ClearRenderTargetView(RenderTargetView* view, const float color[4]) override {
        if (view == nullptr || color == nullptr)
            return;
        auto* rtv = static_cast<RenderTargetViewImpl*>(view);
        if (rtv->core() != core_ || !core_->MakeCurrent())
            return;
        // Direct3D clears ignore the write mask and the scissor; GL's do not.
        GL_CHECK(glDisable(GL_SCISSOR_TEST));
        GL_CHECK(glDisable(GL_RASTERIZER_DISCARD));
        GL_CHECK(glDisable(GL_FRAMEBUFFER_SRGB));
        GL_CHECK(glColorMaski(0, GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE));
        GL_CHECK(glClearNamedFramebufferfv(rtv->target().framebuffer, GL_COLOR, 0, color));
    }

    void UpdateSubresource(Resource* resource, uint32_t subresource, const Box* box, const void* data,
                           uint32_t rowPitch, uint32_t depthPitch) override {
        if (resource == nullptr || data == nullptr)
            return;
        const TextureData* texture =
            resource->GetType() == ResourceDimension::BUFFER ? nullptr : GetTextureData(resource);
        const uint32_t subresources = texture != nullptr ? std::max(texture->layers, 1u) : 1;
        if (subresource >= subresources || box != nullptr)
            return Ignored("UpdateSubresource: only whole resources or whole slices of an array");
        if (ResourceCore(resource) != core_ || !core_->MakeCurrent())
            return;
        if (texture == nullptr) {
            auto* buffer = static_cast<BufferImpl*>(resource);
            GL_CHECK(glNamedBufferSubData(buffer->name(), 0, buffer->desc().ByteWidth, data));
            return;
        }
        if (!UploadTexture(*texture, data, rowPitch, depthPitch, subresource))
            Ignored("UpdateSubresource: pitch smaller than a row or a slice");
    }

    // -----------------------------------------------------------------------
    // Draw

    void DrawIndexed(uint32_t indexCount, uint32_t startIndex, int32_t baseVertex) override {
        if (indexCount == 0)
            return;
        if (!Complete(indexCount, startIndex))
            return;
        if (!core_->MakeCurrent() || vao_ == 0 || pipeline_ == 0)
            return;
        ApplyOutputState();
        if (!ApplyShaderState())
            return;
        GLenum mode = topology_ == PrimitiveTopology::LINELIST ? GL_LINES : GL_TRIANGLES;
        auto first = reinterpret_cast<const void*>(uintptr_t(indexOffset_) + uintptr_t(startIndex) * 4u);
        GL_CHECK(glDrawElementsBaseVertex(mode, static_cast<GLsizei>(indexCount), GL_UNSIGNED_INT, first,
                                          baseVertex));
    }

    // A render target view that nobody but the binding holds any more is let
    // go, as Direct3D's context does with its internal references, so that the
    // swap chain can resize once the program has released its own view.
    void DropOrphanedRenderTarget(const Texture2D* buffer) {
        auto* rtv = static_cast<RenderTargetViewImpl*>(renderTarget_.get());
        if (rtv != nullptr && rtv->texture() == buffer && rtv->RefCount() == 1)
            renderTarget_.Reset(nullptr);
    }

  private:
    ~DeviceContextImpl() override {
        if (core_->immediateContext == this)
            core_->immediateContext = nullptr;
        if (core_->MakeCurrent()) {
            GL_CHECK(glDeleteVertexArrays(1, &vao_));
            GL_CHECK(glDeleteProgramPipelines(1, &pipeline_));
        }
    }

    template <class Impl, class T>
    bool Mine(const Ref<T>& ref) const {
        return ref && static_cast<Impl*>(ref.get())->core() == core_;
    }

    // Everything a draw needs is bound and in range; otherwise it draws
    // nothing, as Direct3D does with missing inputs.
    bool Complete(uint32_t indexCount, uint32_t startIndex) const {
        if (!Mine<RenderTargetViewImpl>(renderTarget_) || !Mine<VertexShaderImpl>(vs_) ||
            !Mine<PixelShaderImpl>(ps_) || !Mine<InputLayoutImpl>(layout_) || !Mine<BufferImpl>(indexBuffer_))
            return false;
        if (!hasViewport_ || !(viewport_.Width > 0) || !(viewport_.Height > 0))
            return false;
        if (topology_ != PrimitiveTopology::TRIANGLELIST && topology_ != PrimitiveTopology::LINELIST)
            return false;
        auto* ib = static_cast<BufferImpl*>(indexBuffer_.get());
        if (indexFormat_ != Format::R32_UINT || indexOffset_ % 4 != 0 ||
            (ib->desc().BindFlags & BIND_INDEX_BUFFER) == 0)
            return false;
        uint64_t end = uint64_t(indexOffset_) + (uint64_t(startIndex) + indexCount) * 4u;
        if (end > ib->desc().ByteWidth) {
            Ignored("DrawIndexed: index range beyond the index buffer");
            return false;
        }
        return true;
    }

    void ApplyOutputState() {
        const TextureData& target = static_cast<RenderTargetViewImpl*>(renderTarget_.get())->target();
        GL_CHECK(glBindFramebuffer(GL_DRAW_FRAMEBUFFER, target.framebuffer));
        GL_CHECK(glClipControl(GL_UPPER_LEFT, GL_ZERO_TO_ONE));
        // With the upper-left origin, GL's viewport y counts from row 0, the top.
        GL_CHECK(
            glViewportIndexedf(0, viewport_.TopLeftX, viewport_.TopLeftY, viewport_.Width, viewport_.Height));
        GL_CHECK(glDepthRangeIndexed(0, viewport_.MinDepth, viewport_.MaxDepth));
        for (GLenum cap : {GL_SCISSOR_TEST, GL_DEPTH_TEST, GL_STENCIL_TEST, GL_RASTERIZER_DISCARD,
                           GL_FRAMEBUFFER_SRGB, GL_PRIMITIVE_RESTART, GL_PRIMITIVE_RESTART_FIXED_INDEX,
                           GL_COLOR_LOGIC_OP, GL_SAMPLE_ALPHA_TO_COVERAGE, GL_SAMPLE_MASK,
                           GL_POLYGON_OFFSET_FILL, GL_POLYGON_OFFSET_LINE, GL_LINE_SMOOTH, GL_POLYGON_SMOOTH})
            GL_CHECK(glDisable(cap));
        GL_CHECK(glLineWidth(1.0f));

        RasterizerDesc r;  // Direct3D's default state when none is bound
        if (Mine<RasterizerStateImpl>(rasterizer_))
            r = static_cast<RasterizerStateImpl*>(rasterizer_.get())->desc();
        GL_CHECK(glPolygonMode(GL_FRONT_AND_BACK, r.FillMode == FillMode::WIREFRAME ? GL_LINE : GL_FILL));
        if (r.CullMode == CullMode::NONE) {
            GL_CHECK(glDisable(GL_CULL_FACE));
        } else {
            GL_CHECK(glEnable(GL_CULL_FACE));
            GL_CHECK(glCullFace(r.CullMode == CullMode::FRONT ? GL_FRONT : GL_BACK));
        }
        GL_CHECK(glFrontFace(r.FrontCounterClockwise ? kCounterClockwiseOnScreen : kClockwiseOnScreen));
        if (r.ScissorEnable) {
            // Rows count from the top in both APIs here (the clip control is
            // upper-left), as for the viewport.
            GL_CHECK(glEnable(GL_SCISSOR_TEST));
            GL_CHECK(glScissorIndexed(0, scissor_.left, scissor_.top,
                                      std::max(0, scissor_.right - scissor_.left),
                                      std::max(0, scissor_.bottom - scissor_.top)));
        }
        if (r.DepthClipEnable) {
            GL_CHECK(glDisable(GL_DEPTH_CLAMP));
        } else {
            GL_CHECK(glEnable(GL_DEPTH_CLAMP));
        }

        RenderTargetBlendDesc b;  // no blend state: no blending, every channel written
        b.RenderTargetWriteMask = COLOR_WRITE_ENABLE_ALL;
        if (Mine<BlendStateImpl>(blend_))
            b = static_cast<BlendStateImpl*>(blend_.get())->desc().RenderTarget[0];
        if (b.BlendEnable) {
            GL_CHECK(glEnablei(GL_BLEND, 0));
            GL_CHECK(glBlendFuncSeparatei(0, GlBlend(b.SrcBlend), GlBlend(b.DestBlend),
                                          GlBlend(b.SrcBlendAlpha), GlBlend(b.DestBlendAlpha)));
            GL_CHECK(glBlendEquationSeparatei(0, GlBlendOp(b.BlendOp), GlBlendOp(b.BlendOpAlpha)));
        } else {
            GL_CHECK(glDisablei(GL_BLEND, 0));
        }
        GL_CHECK(glBlendColor(blendFactor_[0], blendFactor_[1], blendFactor_[2], blendFactor_[3]));
        uint8_t m = b.RenderTargetWriteMask;
        GL_CHECK(glColorMaski(0, (m & 1) != 0, (m & 2) != 0, (m & 4) != 0, (m & 8) != 0));
    }

    // Shaders, vertex inputs, constant buffers and textures. False when the
    // shaders use something that is not bound (then nothing is drawn).
    bool ApplyShaderState() {
        auto* vs = static_cast<VertexShaderImpl*>(vs_.get());
        auto* ps = static_cast<PixelShaderImpl*>(ps_.get());
        auto* layout = static_cast<InputLayoutImpl*>(layout_.get());

        // Vertex inputs: the layout feeds the shader's inputs by semantic.
        struct Attribute {
            GLuint location;
            const LayoutElement* element;
        };
        std::vector<Attribute> attributes;
        for (const auto& in : vs->info().inputs) {
            const LayoutElement* found = nullptr;
            for (const LayoutElement& e : layout->elements())
                if (e.semanticName == in.semanticName && e.semanticIndex == in.semanticIndex)
                    found = &e;
            if (found == nullptr || !Mine<BufferImpl>(vertexBuffers_[found->slot])) {
                Ignored("DrawIndexed: a vertex input has no element or no vertex buffer");
                return false;
            }
            attributes.push_back({in.location, found});
        }
        if (!vs->info().samplers.empty()) {
            Ignored("DrawIndexed: vertex shaders cannot have textures bound");
            return false;
        }
        if (!BindConstants(vs->info(), vsConstants_) || !BindConstants(ps->info(), psConstants_))
            return false;
        if (!BindTextures(ps->info()))
            return false;

        uint32_t enabled = 0;
        for (const Attribute& a : attributes) {
            if (a.location >= 32)
                return false;
            const LayoutElement& e = *a.element;
            bool bytes = e.format == Format::R8G8B8A8_UNORM;
            GLint components = e.format == Format::R32G32_FLOAT      ? 2
                               : e.format == Format::R32G32B32_FLOAT ? 3
                                                                     : 4;
            GL_CHECK(glEnableVertexArrayAttrib(vao_, a.location));
            GL_CHECK(glVertexArrayAttribFormat(vao_, a.location, components,
                                               bytes ? GL_UNSIGNED_BYTE : GL_FLOAT,
                                               bytes ? GL_TRUE : GL_FALSE, e.offset));
            GL_CHECK(glVertexArrayAttribBinding(vao_, a.location, e.slot));
            auto* vb = static_cast<BufferImpl*>(vertexBuffers_[e.slot].get());
            GL_CHECK(glVertexArrayVertexBuffer(vao_, e.slot, vb->name(), offsets_[e.slot],
                                               static_cast<GLsizei>(strides_[e.slot])));
            enabled |= 1u << a.location;
        }
        for (GLuint loc = 0; loc < 32; ++loc)
            if ((enabledAttributes_ & ~enabled) & (1u << loc))
                GL_CHECK(glDisableVertexArrayAttrib(vao_, loc));
        enabledAttributes_ = enabled;
        GL_CHECK(glVertexArrayElementBuffer(vao_, static_cast<BufferImpl*>(indexBuffer_.get())->name()));
        GL_CHECK(glBindVertexArray(vao_));

        // A program bound with glUseProgram (as the menu's drawing does) would
        // override the pipeline.
        GL_CHECK(glUseProgram(0));
        GL_CHECK(glUseProgramStages(pipeline_, GL_VERTEX_SHADER_BIT, vs->program()));
        GL_CHECK(glUseProgramStages(pipeline_, GL_FRAGMENT_SHADER_BIT, ps->program()));
        GL_CHECK(glBindProgramPipeline(pipeline_));
        return true;
    }

    bool BindConstants(const ShaderBytecodeInfo& info, const Ref<Buffer> (&slots)[kConstantSlots]) {
        for (const auto& cb : info.constantBuffers) {
            const Ref<Buffer>& slot = slots[cb.registerSlot];
            if (!Mine<BufferImpl>(slot)) {
                Ignored("DrawIndexed: a constant buffer the shader uses is not bound");
                return false;
            }
            auto* buffer = static_cast<BufferImpl*>(slot.get());
            // GL leaves reads past a short uniform buffer undefined.
            if ((buffer->desc().BindFlags & BIND_CONSTANT_BUFFER) == 0 ||
                buffer->desc().ByteWidth < cb.byteSize) {
                Ignored("DrawIndexed: constant buffer smaller than the shader's cbuffer");
                return false;
            }
            GL_CHECK(glBindBufferBase(GL_UNIFORM_BUFFER, cb.glBinding, buffer->name()));
        }
        return true;
    }

    bool BindTextures(const ShaderBytecodeInfo& info) {
        for (const auto& s : info.samplers) {
            const Ref<ShaderResourceView>& view = psViews_[s.textureRegister];
            if (!Mine<ShaderResourceViewImpl>(view)) {
                Ignored("DrawIndexed: a texture the shader samples is not bound");
                return false;
            }
            GLuint sampler = core_->defaultSampler;
            if (s.samplerRegister >= 0 && Mine<SamplerStateImpl>(psSamplers_[s.samplerRegister]))
                sampler = static_cast<SamplerStateImpl*>(psSamplers_[s.samplerRegister].get())->name();
            GL_CHECK(
                glBindTextureUnit(s.glBinding, static_cast<ShaderResourceViewImpl*>(view.get())->texture()));
            GL_CHECK(glBindSampler(s.glBinding, sampler));
        }
        return true;
    }

    GLuint vao_ = 0, pipeline_ = 0;
    uint32_t enabledAttributes_ = 0;

    Ref<InputLayout> layout_;
    Ref<Buffer> vertexBuffers_[kVertexSlots];
    uint32_t strides_[kVertexSlots] = {}, offsets_[kVertexSlots] = {};
    Ref<Buffer> indexBuffer_;
    Format indexFormat_ = Format::UNKNOWN;
    uint32_t indexOffset_ = 0;
    PrimitiveTopology topology_ = PrimitiveTopology::UNDEFINED;

    Ref<VertexShader> vs_;
    Ref<Buffer> vsConstants_[kConstantSlots];
    Ref<PixelShader> ps_;
    Ref<Buffer> psConstants_[kConstantSlots];
    Ref<ShaderResourceView> psViews_[kResourceSlots];
    Ref<SamplerState> psSamplers_[kSamplerSlots];

    Ref<RasterizerState> rasterizer_;
    bool hasViewport_ = false;
    Viewport viewport_;
    Rect scissor_;
    Ref<RenderTargetView> renderTarget_;
    Ref<BlendState> blend_;
    float blendFactor_[4] = {1, 1, 1, 1};
};

}  // namespace

void DropOrphanedRenderTarget(DeviceContext* context, const Texture2D* buffer) {
    static_cast<DeviceContextImpl*>(context)->DropOrphanedRenderTarget(buffer);
}

DeviceContext* NewDeviceContext(Core* core) {
    return new DeviceContextImpl(core);
}

}  // namespace gpu::detail
