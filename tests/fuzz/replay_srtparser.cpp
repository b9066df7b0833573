// Replays the fuzzing corpus through the subtitle readers with any compiler, so that every input
// that once crashed it stays fixed: replay_srtparser DIRECTORY_OR_FILE...

#include "srtinvariants.h"
#include <QFile>

#include <QDirIterator>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>

int main(int argc, char *argv[])
{
    QStringList files;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (QFileInfo(arg).isDir()) {
            QDirIterator it(arg, QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext())
                files << it.next();
        } else {
            files << arg;
        }
    }
    if (files.isEmpty()) {
        std::fputs("replay_srtparser: no corpus files\n", stderr);
        return 1;
    }
    files.sort();
    for (const QString &path : files) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return 1;
        checkAllReaders(file.readAll());
    }
    std::printf("replayed %lld corpus files\n", static_cast<long long>(files.size()));
    return 0;
}
