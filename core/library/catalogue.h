#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class QUrl;

// Reading the network catalogue ("video.txt") and judging the names it gives.

// A catalogue is a list of file names; anything bigger comes from a broken or hostile server.
constexpr qint64 maxCatalogueBytes = 16 * 1024 * 1024;
// More rows than a learner can scroll through; the list stays quick to fill.
constexpr int maxCatalogueEntries = 10000;
// A path on the server; file names are at most 255 bytes on common file systems.
constexpr int maxCatalogueEntryBytes = 1024;

struct CatalogueListing
{
    QStringList entries;   // trimmed, non-blank lines with a usable name, in order
    int refused = 0;       // lines whose name is not usable
    bool cutShort = false; // more than maxCatalogueEntries lines; the rest is not read
};

// The entries of a catalogue body (UTF-8, one path relative to baseUrl per line), read line by
// line, so that a body of one huge line or of millions of lines costs no more than its size.
CatalogueListing readCatalogue(const QByteArray &body, const QString &baseUrl);

// Whether a catalogue entry's URL names a file whose subtitle may be stored on the learner's
// disk: a plain, visible file name (not ".bashrc"), and no control character anywhere in the
// decoded path (a NUL would cut the stored name short).
bool isUsableMediaUrl(const QUrl &url);
