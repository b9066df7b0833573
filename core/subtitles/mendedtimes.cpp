#include "core/subtitles/mendedtimes.h"

#include "core/subtitles/srtparser.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <optional>

namespace MendedTimes {

namespace {

std::optional<QByteArray> contentsOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

bool keep(const QString &waiting, const QByteArray &bytes, const QList<SubtitleItem> &items)
{
    return QDir().mkpath(QFileInfo(waiting).absolutePath()) &&
           writeWholeFile(waiting, srtWithTimes(bytes, items));
}

} // namespace

// The contents are part of the name: times kept for a subtitle that has since been replaced or
// written are never taken for it. The suffix is not: a ".srt" in a read-only folder becomes the
// lesson's ".srt1" once the folder takes writes.
QString waitingFile(const QString &subtitlePath, const QByteArray &bytes)
{
    const QFileInfo subtitle(subtitlePath);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(QString(subtitle.absolutePath() + "/" + subtitle.completeBaseName()).toUtf8());
    hash.addData(QByteArrayView("\n"));
    hash.addData(bytes);
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/mended/" +
           QString::fromLatin1(hash.result().toHex()) + ".srt";
}

Saved save(const QString &subtitlePath, const QList<SubtitleItem> &items)
{
    const std::optional<QByteArray> bytes = contentsOf(subtitlePath);
    if (!bytes)
        return Saved::Lost;
    const QString waiting = waitingFile(subtitlePath, *bytes);
    if (saveSrtTimes(subtitlePath, items)) {
        QFile::remove(waiting);
        return Saved::InFile;
    }
    return keep(waiting, *bytes, items) ? Saved::Kept : Saved::Lost;
}

QList<SubtitleItem> read(const QString &subtitlePath)
{
    const std::optional<QByteArray> bytes = contentsOf(subtitlePath);
    if (!bytes) {
        qDebug() << "无法打开字幕文件:" << subtitlePath;
        return {};
    }
    const QString waiting = waitingFile(subtitlePath, *bytes);
    const std::optional<QByteArray> mended = contentsOf(waiting);
    if (!mended)
        return parseSrtBytes(*bytes);
    const QList<SubtitleItem> items = parseSrtBytes(*mended);
    qDebug() << "使用另存的修正时间:" << waiting;
    if (saveSrtTimes(subtitlePath, items))
        QFile::remove(waiting);
    return items;
}

} // namespace MendedTimes
