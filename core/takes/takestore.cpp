#include "core/takes/takestore.h"

#include "core/takes/takecomparison.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>

namespace {

constexpr auto takeSuffix = ".opus";
constexpr auto scoresFile = "scores.ini";

// "s0003_" for the third sentence: names of one sentence sort by the time after it.
QString sentencePrefix(int sentence)
{
    return QString("s%1_").arg(sentence + 1, 4, 10, QChar('0'));
}

QSettings scoresBeside(const QString &takePath)
{
    return QSettings(QFileInfo(takePath).absoluteDir().filePath(scoresFile), QSettings::IniFormat);
}

} // namespace

TakeStore::TakeStore(const QString &root)
    : rootDir(root)
{
}

QString TakeStore::defaultRoot()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/takes";
}

// The lesson's name for the eye, and a hash of its full path (or address) so that two lessons
// of one name in different folders keep their takes apart.
QString TakeStore::lessonFolder(const QString &lesson) const
{
    QString name =
        QFileInfo(QUrl(lesson).isLocalFile() ? QUrl(lesson).toLocalFile() : lesson).completeBaseName();
    name.replace(QRegularExpression(QStringLiteral("[/\\\\:*?\"<>|]")), QStringLiteral("_"));
    const QByteArray hash =
        QCryptographicHash::hash(lesson.toUtf8(), QCryptographicHash::Sha1).toHex().left(8);
    return QDir(rootDir).filePath(name.left(60) + '-' + QString::fromLatin1(hash));
}

QString TakeStore::newTakePath(const QString &lesson, int sentence, const QDateTime &when) const
{
    const QString folder = lessonFolder(lesson);
    QDir().mkpath(folder);
    return QDir(folder).filePath(sentencePrefix(sentence) + when.toString("yyyyMMdd-HHmmss-zzz") +
                                 takeSuffix);
}

QStringList TakeStore::takes(const QString &lesson, int sentence) const
{
    const QDir folder(lessonFolder(lesson));
    QStringList names =
        folder.entryList({sentencePrefix(sentence) + '*' + takeSuffix}, QDir::Files, QDir::Name);
    for (QString &name : names)
        name = folder.filePath(name);
    return names;
}

QString TakeStore::lastTake(const QString &lesson, int sentence) const
{
    const QStringList all = takes(lesson, sentence);
    return all.isEmpty() ? QString() : all.last();
}

int TakeStore::sentenceOf(const QString &takePath)
{
    static const QRegularExpression pattern(QStringLiteral("^s(\\d{4,})_.*\\.opus$"));
    const QRegularExpressionMatch match = pattern.match(QFileInfo(takePath).fileName());
    return match.hasMatch() ? match.captured(1).toInt() - 1 : -1;
}

void TakeStore::keepNewest(const QString &lesson, int sentence) const
{
    const QStringList all = takes(lesson, sentence);
    for (qsizetype i = 0; i + keptPerSentence < all.size(); ++i) {
        QFile::remove(all.at(i));
        scoresBeside(all.at(i)).remove(QFileInfo(all.at(i)).fileName());
    }
}

void TakeStore::saveScore(const QString &takePath, const TakeComparison &comparison) const
{
    QSettings scores = scoresBeside(takePath);
    scores.beginGroup(QFileInfo(takePath).fileName());
    scores.setValue("score", qRound(comparison.score * 10) / 10.0);
    scores.setValue("contour", qRound(comparison.contour * 1000) / 1000.0);
    scores.setValue("rhythm", qRound(comparison.rhythm * 1000) / 1000.0);
    scores.setValue("register", qRound(comparison.register_ * 1000) / 1000.0);
}

std::optional<double> TakeStore::score(const QString &takePath) const
{
    const QVariant value = scoresBeside(takePath).value(QFileInfo(takePath).fileName() + "/score");
    return value.isValid() ? std::optional<double>(value.toDouble()) : std::nullopt;
}
