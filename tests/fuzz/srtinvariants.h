#pragma once

#include "core/subtitles/srtparser.h"
#include "core/subtitles/subtitleitem.h"
#include "core/subtitles/subtitlereaders.h"

#include <cstdio>
#include <cstdlib>

// What every list from a subtitle reader must satisfy, whatever bytes it was given. A
// violation aborts, so that the fuzzer and the corpus replay both report it as a crash.
inline void checkSrtInvariants(const QList<SubtitleItem> &items)
{
    auto fail = [](const char *what, int index) {
        std::fprintf(stderr, "SRT invariant broken at cue %d: %s\n", index, what);
        std::abort();
    };
    for (int i = 0; i < items.size(); ++i) {
        const QString &text = items.at(i).text;
        if (items.at(i).index != i)
            fail("index is not its position", i);
        if (text.isEmpty())
            fail("empty text", i);
        if (text != text.trimmed())
            fail("text not trimmed", i);
        if (text.contains(u'\r') || text.contains(QLatin1StringView("\n\n")))
            fail("carriage return or empty line in text", i);
        for (const QString &line : text.split(u'\n')) {
            if (line.isEmpty() || line != line.trimmed())
                fail("line empty or not trimmed", i);
        }
        if ((text.startsWith(u'(') && text.endsWith(u')')) || (text.startsWith(u'[') && text.endsWith(u']')))
            fail("sound description accepted", i);
    }
}

// The bytes through every reader: SRT, and the others on the same decoded text.
inline void checkAllReaders(const QByteArray &bytes)
{
    checkSrtInvariants(parseSrtBytes(bytes));
    const QString text = decodeSubtitleText(bytes);
    checkSrtInvariants(parseVttText(text));
    checkSrtInvariants(parseAssText(text));
    checkSrtInvariants(parseLrcText(text, 60000));
}
