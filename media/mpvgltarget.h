#pragma once

#include <QSize>
#include <QString>

#include <memory>

class QOffscreenSurface;
class QOpenGLContext;
class QOpenGLExtraFunctions;
struct mpv_handle;
struct mpv_render_context;

// Where mpv's video is drawn by the graphics processor: an OpenGL context of the render thread's
// own and a framebuffer of the size the frame is shown at, read back into the frame's memory.
// The conversion to RGB and the scaling then cost the processor nothing but the copy.
class MpvGlTarget
{
public:
    // Made, used and destroyed on the render thread; `surface` was made on the GUI thread, as
    // it must be, and outlives this.
    explicit MpvGlTarget(QOffscreenSurface *surface);
    ~MpvGlTarget();

    // Makes the context current and mpv's render context in it. Unless `evenSoftware`, a
    // rasteriser on the processor counts as no context: it scales at more cost than Qt's painting,
    // and later targets of the process do not try again.
    mpv_render_context *open(mpv_handle *mpv, bool evenSoftware);
    // Frees mpv's render context, with its OpenGL context current.
    void close(mpv_render_context *context);
    QString renderer() const { return rendererName; }
    // What the pixels read back are laid out as: BGRA where the context has it, RGBA on OpenGL ES.
    bool readsBgra() const { return bgra; }

    // Renders mpv's frame at `size` and copies it, its top line first, into `pixels`.
    int render(mpv_render_context *context, QSize size, uchar *pixels, int stride, bool waitUntilDue);

private:
    bool prepareFramebuffer(QSize size);
    void deleteFramebuffer();

    QOffscreenSurface *surface;
    std::unique_ptr<QOpenGLContext> gl;
    QOpenGLExtraFunctions *functions = nullptr;
    QString rendererName;
    bool bgra = true;
    unsigned framebuffer = 0;
    unsigned colour = 0;
    QSize framebufferSize;
};

// Which path mpv's video takes. ORVILOOP_VIDEO_RENDERER=gl or sw chooses; by default OpenGL
// where the machine has a graphics device, and only if its driver draws with it.
enum class MpvRenderPath { Software, OpenGL, OpenGLOnGraphicsDevice };
MpvRenderPath mpvRenderPath();
