#include "core/library/catalogue.h"

#include <QByteArrayView>
#include <QDebug>
#include <QFileInfo>
#include <QUrl>

#include <algorithm>

namespace {

bool hasControlCharacter(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(),
                       [](QChar c) { return c.category() == QChar::Other_Control; });
}

} // namespace

bool isUsableMediaUrl(const QUrl &url)
{
    const QString path = url.path(QUrl::FullyDecoded);
    const QString name = QFileInfo(path).fileName();
    return !name.isEmpty() && !name.startsWith('.') && !name.contains('\\') && !hasControlCharacter(path);
}

CatalogueListing readCatalogue(const QByteArray &body, const QString &baseUrl)
{
    CatalogueListing listing;
    qsizetype start = 0;
    while (start < body.size()) {
        qsizetype end = body.indexOf('\n', start);
        if (end < 0)
            end = body.size();
        const QByteArrayView line = QByteArrayView(body).sliced(start, end - start).trimmed();
        start = end + 1;
        if (line.isEmpty())
            continue;
        if (listing.entries.size() + listing.refused == maxCatalogueEntries) {
            listing.cutShort = true;
            break;
        }
        const QString entry =
            line.size() > maxCatalogueEntryBytes ? QString() : QString::fromUtf8(line).trimmed();
        if (entry.isEmpty() || hasControlCharacter(entry) ||
            !isUsableMediaUrl(QUrl(baseUrl + entry, QUrl::TolerantMode))) {
            if (listing.refused < 10)
                qDebug() << "目录条目不可用，已跳过:"
                         << QString::fromUtf8(line.first(qMin<qsizetype>(line.size(), 80)));
            ++listing.refused;
            continue;
        }
        listing.entries.append(entry);
    }
    return listing;
}
