#include "media/mpvgltarget.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>

#include <mpv/client.h>
#include <mpv/render.h>
#include <mpv/render_gl.h>

#include <atomic>

#ifndef GL_BGRA
#define GL_BGRA 0x80E1
#endif

namespace {

void *procAddress(void *context, const char *name)
{
    auto *gl = static_cast<QOpenGLContext *>(context);
    return reinterpret_cast<void *>(gl->getProcAddress(name));
}

// Mesa's rasterisers that run on the processor.
bool isSoftwareRenderer(const QString &renderer)
{
    return renderer.contains("llvmpipe", Qt::CaseInsensitive) ||
           renderer.contains("softpipe", Qt::CaseInsensitive) ||
           renderer.contains("software", Qt::CaseInsensitive);
}

// Set once a context turned out to draw on the processor: making one costs tens of milliseconds.
std::atomic<bool> onlySoftwareRenderer{false};

// A render node (Mesa's drivers, and NVIDIA's with its DRM module) or NVIDIA's own device.
bool hasGraphicsDevice()
{
    return !QDir("/dev/dri").entryList({"renderD*"}, QDir::System).isEmpty() ||
           QFile::exists("/dev/nvidiactl");
}

} // namespace

MpvRenderPath mpvRenderPath()
{
    const QString chosen = qEnvironmentVariable("ORVILOOP_VIDEO_RENDERER").trimmed().toLower();
    if (chosen == "gl")
        return MpvRenderPath::OpenGL;
    if (chosen == "sw" || onlySoftwareRenderer)
        return MpvRenderPath::Software;
    static const bool device = hasGraphicsDevice();
    return device ? MpvRenderPath::OpenGLOnGraphicsDevice : MpvRenderPath::Software;
}

MpvGlTarget::MpvGlTarget(QOffscreenSurface *surface)
    : surface(surface)
{
}

MpvGlTarget::~MpvGlTarget() = default;

mpv_render_context *MpvGlTarget::open(mpv_handle *mpv, bool evenSoftware)
{
    if (!surface->isValid() || !QOpenGLContext::supportsThreadedOpenGL())
        return nullptr;
    gl = std::make_unique<QOpenGLContext>();
    if (!gl->create() || !gl->makeCurrent(surface)) {
        gl.reset();
        return nullptr;
    }
    functions = gl->extraFunctions();
    rendererName = QString::fromLatin1(reinterpret_cast<const char *>(functions->glGetString(GL_RENDERER)));
    bgra = !gl->isOpenGLES();
    if (!evenSoftware && isSoftwareRenderer(rendererName)) {
        onlySoftwareRenderer = true;
        return nullptr;
    }
    mpv_opengl_init_params init{&procAddress, gl.get()};
    mpv_render_param params[] = {{MPV_RENDER_PARAM_API_TYPE, const_cast<char *>(MPV_RENDER_API_TYPE_OPENGL)},
                                 {MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &init},
                                 {MPV_RENDER_PARAM_INVALID, nullptr}};
    mpv_render_context *context = nullptr;
    if (mpv_render_context_create(&context, mpv, params) < 0)
        return nullptr;
    return context;
}

void MpvGlTarget::close(mpv_render_context *context)
{
    const bool current = gl && gl->makeCurrent(surface);
    // Freed even without its context: mpv would wait for it when it ends.
    mpv_render_context_free(context);
    if (!current)
        return;
    deleteFramebuffer();
    gl->doneCurrent();
}

bool MpvGlTarget::prepareFramebuffer(QSize size)
{
    if (framebuffer && size == framebufferSize)
        return true;
    deleteFramebuffer();
    functions->glGenTextures(1, &colour);
    functions->glBindTexture(GL_TEXTURE_2D, colour);
    functions->glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, size.width(), size.height(), 0, GL_RGBA,
                            GL_UNSIGNED_BYTE, nullptr);
    functions->glGenFramebuffers(1, &framebuffer);
    functions->glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    functions->glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, colour, 0);
    framebufferSize = size;
    if (functions->glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE)
        return true;
    deleteFramebuffer();
    return false;
}

void MpvGlTarget::deleteFramebuffer()
{
    if (framebuffer)
        functions->glDeleteFramebuffers(1, &framebuffer);
    if (colour)
        functions->glDeleteTextures(1, &colour);
    framebuffer = 0;
    colour = 0;
    framebufferSize = {};
}

int MpvGlTarget::render(mpv_render_context *context, QSize size, uchar *pixels, int stride, bool waitUntilDue)
{
    if (!prepareFramebuffer(size))
        return MPV_ERROR_GENERIC;
    mpv_opengl_fbo target{int(framebuffer), size.width(), size.height(), GL_RGBA8};
    // Into a framebuffer other than the window's, mpv draws the frame's top line first, as
    // QImage has it: the lines read back need no flipping.
    int block = waitUntilDue ? 1 : 0;
    mpv_render_param params[] = {{MPV_RENDER_PARAM_OPENGL_FBO, &target},
                                 {MPV_RENDER_PARAM_BLOCK_FOR_TARGET_TIME, &block},
                                 {MPV_RENDER_PARAM_INVALID, nullptr}};
    const int result = mpv_render_context_render(context, params);
    if (result < 0)
        return result;
    functions->glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    functions->glPixelStorei(GL_PACK_ALIGNMENT, 4);
    functions->glPixelStorei(GL_PACK_ROW_LENGTH, stride / 4);
    functions->glReadPixels(0, 0, size.width(), size.height(), bgra ? GL_BGRA : GL_RGBA, GL_UNSIGNED_BYTE,
                            pixels);
    functions->glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    return result;
}
