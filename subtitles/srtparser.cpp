#include "subtitles/srtparser.h"

QList<SubtitleItem> parseSrtFile(const QString &path)
{
    Q_UNUSED(path);
    return {};
}

qint64 parseSrtTime(const QString &stamp)
{
    Q_UNUSED(stamp);
    return 0;
}
