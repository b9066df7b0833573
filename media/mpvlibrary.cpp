#include "media/mpvlibrary.h"

#include <QLibrary>
#include <QStringList>
#include <QtGlobal>

#include <mpv/client.h>
#include <mpv/render.h>

#include <future>
#include <mutex>

// Every function of libmpv the program may call, as (return type, name, parameters, arguments).
// The render API is there whole, for the video renderer.
#define ORVILOOP_MPV_FUNCTIONS(X)                                                                            \
    X(const char *, mpv_error_string, (int error), (error))                                                  \
    X(void, mpv_free, (void *data), (data))                                                                  \
    X(mpv_handle *, mpv_create, (), ())                                                                      \
    X(int, mpv_initialize, (mpv_handle * ctx), (ctx))                                                        \
    X(void, mpv_terminate_destroy, (mpv_handle * ctx), (ctx))                                                \
    X(mpv_handle *, mpv_create_client, (mpv_handle * ctx, const char *name), (ctx, name))                    \
    X(void, mpv_destroy, (mpv_handle * ctx), (ctx))                                                          \
    X(int, mpv_set_option_string, (mpv_handle * ctx, const char *name, const char *data), (ctx, name, data)) \
    X(int, mpv_command, (mpv_handle * ctx, const char **args), (ctx, args))                                  \
    X(int, mpv_command_async, (mpv_handle * ctx, uint64_t reply, const char **args), (ctx, reply, args))     \
    X(int, mpv_set_property, (mpv_handle * ctx, const char *name, mpv_format format, void *data),            \
      (ctx, name, format, data))                                                                             \
    X(int, mpv_set_property_async,                                                                           \
      (mpv_handle * ctx, uint64_t reply, const char *name, mpv_format format, void *data),                   \
      (ctx, reply, name, format, data))                                                                      \
    X(int, mpv_get_property, (mpv_handle * ctx, const char *name, mpv_format format, void *data),            \
      (ctx, name, format, data))                                                                             \
    X(char *, mpv_get_property_string, (mpv_handle * ctx, const char *name), (ctx, name))                    \
    X(int, mpv_observe_property, (mpv_handle * ctx, uint64_t reply, const char *name, mpv_format format),    \
      (ctx, reply, name, format))                                                                            \
    X(int, mpv_request_log_messages, (mpv_handle * ctx, const char *level), (ctx, level))                    \
    X(mpv_event *, mpv_wait_event, (mpv_handle * ctx, double timeout), (ctx, timeout))                       \
    X(void, mpv_wakeup, (mpv_handle * ctx), (ctx))                                                           \
    X(void, mpv_set_wakeup_callback, (mpv_handle * ctx, void (*callback)(void *), void *data),               \
      (ctx, callback, data))                                                                                 \
    X(int, mpv_render_context_create,                                                                        \
      (mpv_render_context * *res, mpv_handle * ctx, mpv_render_param * params), (res, ctx, params))          \
    X(int, mpv_render_context_set_parameter, (mpv_render_context * ctx, mpv_render_param param),             \
      (ctx, param))                                                                                          \
    X(int, mpv_render_context_get_info, (mpv_render_context * ctx, mpv_render_param param), (ctx, param))    \
    X(void, mpv_render_context_set_update_callback,                                                          \
      (mpv_render_context * ctx, mpv_render_update_fn callback, void *data), (ctx, callback, data))          \
    X(uint64_t, mpv_render_context_update, (mpv_render_context * ctx), (ctx))                                \
    X(int, mpv_render_context_render, (mpv_render_context * ctx, mpv_render_param * params), (ctx, params))  \
    X(void, mpv_render_context_report_swap, (mpv_render_context * ctx), (ctx))                               \
    X(void, mpv_render_context_free, (mpv_render_context * ctx), (ctx))

namespace {

struct MpvFunctions
{
#define ORVILOOP_MPV_POINTER(result, name, parameters, arguments) decltype(&::name) name = nullptr;
    ORVILOOP_MPV_FUNCTIONS(ORVILOOP_MPV_POINTER)
#undef ORVILOOP_MPV_POINTER
};

// The library of the API the program was built against: its major version is the file's.
void nameMpvLibraryFile(QLibrary &library)
{
    constexpr int majorVersion = MPV_CLIENT_API_VERSION >> 16;
#ifdef Q_OS_WIN
    library.setFileName(QStringLiteral("libmpv-%1").arg(majorVersion));
#else
    library.setFileNameAndVersion(QStringLiteral("mpv"), majorVersion);
#endif
    // Never unloaded, as a linked library would not be: at the program's end the object goes,
    // the library stays until the process does.
    library.setLoadHints(QLibrary::PreventUnloadHint);
}

// Empty when every function was found.
QString openMpvLibrary(QLibrary &library, MpvFunctions &functions)
{
    nameMpvLibraryFile(library);
    if (!library.load())
        return QStringLiteral("找不到 libmpv：") + library.errorString();
    QStringList missing;
#define ORVILOOP_MPV_RESOLVE(result, name, parameters, arguments)                                            \
    functions.name = reinterpret_cast<decltype(&::name)>(library.resolve(#name));                            \
    if (!functions.name)                                                                                     \
        missing << QStringLiteral(#name);
    ORVILOOP_MPV_FUNCTIONS(ORVILOOP_MPV_RESOLVE)
#undef ORVILOOP_MPV_RESOLVE
    if (!missing.isEmpty())
        return QStringLiteral("libmpv 版本不符，缺少 ") + missing.join(", ");
    return {};
}

struct MpvLoader
{
    std::once_flag started;
    std::shared_future<QString> opened;
    QLibrary library;
    MpvFunctions functions;
};

MpvLoader &loader()
{
    static MpvLoader instance;
    return instance;
}

// Called only once libmpv has been found whole (the engine starts only then).
template <typename Function> Function openedFunction(Function MpvFunctions::*member, const char *name)
{
    if (!waitForMpvLibrary().isEmpty())
        qFatal("%s called without libmpv", name);
    return loader().functions.*member;
}

} // namespace

void startLoadingMpvLibrary()
{
    MpvLoader &state = loader();
    std::call_once(state.started, [&state] {
        state.opened = std::async(std::launch::async,
                                  [&state] { return openMpvLibrary(state.library, state.functions); });
    });
}

QString waitForMpvLibrary()
{
    startLoadingMpvLibrary();
    return loader().opened.get();
}

#define ORVILOOP_MPV_FORWARD(result, name, parameters, arguments)                                            \
    extern "C" result name parameters                                                                        \
    {                                                                                                        \
        static const auto function = openedFunction(&MpvFunctions::name, #name);                             \
        return function arguments;                                                                           \
    }
ORVILOOP_MPV_FUNCTIONS(ORVILOOP_MPV_FORWARD)
#undef ORVILOOP_MPV_FORWARD
