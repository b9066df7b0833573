#include "media/mediaengine.h"

#include "media/qtmediaengine.h"
#ifdef ORVILOOP_HAVE_MPV
#include "media/mpvengine.h"
#include "media/mpvlibrary.h"
#endif

#include <QDebug>

MediaEngine::MediaEngine(QObject *parent)
    : QObject(parent)
{
}

QString unplayableMediaMessage(const QString &detail)
{
    const QString message = "打不开这个媒体：文件损坏，或网络不通、服务器证书不受信任";
    return detail.isEmpty() ? message : message + "\n" + detail;
}

void useQtMultimediaFFmpegBackend()
{
    qputenv("QT_MEDIA_BACKEND", "ffmpeg");
}

QString preferredMediaEngineName()
{
    const QString chosen = qEnvironmentVariable("ORVILOOP_MEDIA_ENGINE").trimmed().toLower();
#ifdef ORVILOOP_HAVE_MPV
    if (chosen == "mpv" || chosen == "qt")
        return chosen;
    // From 6.10 on QMediaPlayer keeps the pitch at other rates itself.
    return QT_VERSION >= QT_VERSION_CHECK(6, 10, 0) ? QStringLiteral("qt") : QStringLiteral("mpv");
#else
    if (chosen == "mpv")
        qDebug() << "media engine not built:" << chosen;
    return QStringLiteral("qt");
#endif
}

void prepareMediaEngine()
{
#ifdef ORVILOOP_HAVE_MPV
    if (preferredMediaEngineName() == "mpv")
        startLoadingMpvLibrary();
#endif
}

std::unique_ptr<MediaEngine> createMediaEngine(const MediaEngineOptions &options, QObject *parent,
                                               QString *fallbackReason)
{
    std::unique_ptr<MediaEngine> engine;
#ifdef ORVILOOP_HAVE_MPV
    if (preferredMediaEngineName() == "mpv") {
        QString failure;
        engine = MpvEngine::start(options, parent, &failure);
        if (!engine) {
            qDebug() << "media engine failed:" << failure;
            if (fallbackReason)
                *fallbackReason = failure;
        }
    }
#endif
    if (!engine)
        engine = std::make_unique<QtMediaEngine>(options, parent);
    qDebug() << "media engine:" << engine->name();
    return engine;
}
