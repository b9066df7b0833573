#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

struct TakeComparison;

// Where the learner's takes are kept: a folder per lesson under the program's data folder, a
// file per take named with the sentence's number and the time it was made, and the scores of
// the takes in a small file beside them.
class TakeStore
{
public:
    static constexpr int keptPerSentence = 10;

    explicit TakeStore(const QString &root = defaultRoot());
    static QString defaultRoot();

    QString root() const { return rootDir; }
    QString lessonFolder(const QString &lesson) const;
    // The file a new take of the sentence (0-based) is written to; its folder is made.
    QString newTakePath(const QString &lesson, int sentence, const QDateTime &when) const;
    // The sentence's takes, oldest first.
    QStringList takes(const QString &lesson, int sentence) const;
    QString lastTake(const QString &lesson, int sentence) const;
    // The sentence a take's file belongs to, -1 for a file that is no take.
    static int sentenceOf(const QString &takePath);
    // Removes all but the newest keptPerSentence takes of the sentence, with their scores.
    void keepNewest(const QString &lesson, int sentence) const;

    void saveScore(const QString &takePath, const TakeComparison &comparison) const;
    std::optional<double> score(const QString &takePath) const;

private:
    QString rootDir;
};
