// Arbitrary bytes as a weights file: loadWeightsTable and readWeightsFile
// must give one entry per line, each the line's C-locale float or 0.0 when it
// does not convert, and append to what the table held.

#include "fuzzsupport.h"
#include "codec/transform/weightsfile.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <cstring>

using namespace veltrano;

using fuzzsupport::fail;

namespace {

bool sameBits(float a, float b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// A UTF-16 or UTF-32 byte-order mark makes the text stream decode the file
// as such; the lines are then not the bytes between line feeds.
bool wideText(const QByteArray &data)
{
    return data.startsWith("\xFF\xFE") || data.startsWith("\xFE\xFF") || data.startsWith(QByteArray("\0\0\xFE\xFF", 4));
}

// The length of a UTF-8 sequence that its lead byte announces (0: not a
// lead byte of a multi-byte sequence).
int sequenceLength(unsigned char byte)
{
    if (byte >= 0xC2 && byte <= 0xDF)
        return 2;
    if (byte >= 0xE0 && byte <= 0xEF)
        return 3;
    if (byte >= 0xF0 && byte <= 0xF4)
        return 4;
    return 0;
}

// The text stream's decoder keeps an unfinished UTF-8 sequence at the end of
// the file for a next read that never comes: those bytes are not text. Whether
// the stream then reports one more, empty line depends on its buffering (it
// does when nothing came before them); returns whether bytes were dropped.
bool dropUnfinishedSequence(QByteArray &data)
{
    for (int back = 1; back <= 3 && back <= data.size(); ++back) {
        const unsigned char byte = static_cast<unsigned char>(data.at(data.size() - back));
        if ((byte & 0xC0) == 0x80)
            continue; // a continuation byte; look further back
        const int length = sequenceLength(byte);
        if (length > back) {
            data.chop(back);
            return true;
        }
        return false;
    }
    return false;
}

// The table the file describes, worked out from its text: one line per line
// feed, plus a last line without one; a leading UTF-8 byte-order mark is not
// text.
QList<float> expectedTable(QByteArray data, bool *unfinished)
{
    *unfinished = dropUnfinishedSequence(data);
    // Decoded as one text, as the stream does: the decoder drops one leading
    // byte-order mark; one further on is a character of its line.
    const QString text = QString::fromUtf8(data.constData(), data.size());
    if (!data.isEmpty() && text.isEmpty())
        *unfinished = true; // nothing but a byte-order mark
    QList<float> table;
    int start = 0;
    while (start < text.size()) {
        int end = text.indexOf(QLatin1Char('\n'), start);
        if (end < 0)
            end = text.size();
        QString line = text.mid(start, end - start);
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        bool converted = false;
        const float value = line.toFloat(&converted);
        table.append(converted ? value : 0.0f);
        start = end + 1;
    }
    return table;
}

void compareTables(const char *what, const QList<float> &actual, const QList<float> &expected, int offset)
{
    if (actual.size() != expected.size() + offset)
        fail("%s: %d entries for %d lines", what, actual.size() - offset, expected.size());
    for (int i = 0; i < expected.size(); ++i)
        if (!sameBits(actual.at(i + offset), expected.at(i)))
            fail("%s: entry %d is %.9g, the line gives %.9g", what, i, double(actual.at(i + offset)),
                 double(expected.at(i)));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzzsupport::initialise(argc, argv);
    // A missing file: false, a message, an empty table.
    QList<float> table;
    QString error;
    if (loadWeightsTable(fuzzsupport::scratchFile("missing.txt"), table, &error) || !table.isEmpty()
        || error.isEmpty())
        fail("a missing weights file was read");
    if (readWeightsFile(table, fuzzsupport::scratchFile("missing.txt")) || !table.isEmpty())
        fail("readWeightsFile read a missing file");
    std::fputc('\n', stdout);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const QByteArray data(reinterpret_cast<const char *>(bytes), int(size));
    const QString fileName = fuzzsupport::scratchFile("weights.txt");
    fuzzsupport::writeFile(fileName, data);

    QList<float> loaded;
    QString error;
    if (!loadWeightsTable(fileName, loaded, &error))
        fail("loadWeightsTable failed on a readable file: %s", qPrintable(error));
    // Appending keeps what the table held.
    QList<float> appended{42.0f};
    if (!readWeightsFile(appended, fileName))
        fail("readWeightsFile failed on a readable file");
    if (appended.isEmpty() || appended.first() != 42.0f)
        fail("readWeightsFile dropped the entry the table held");

    if (wideText(data)) {
        // Decoded as UTF-16 or UTF-32: only agreement between the readers.
        compareTables("readWeightsFile", appended, loaded, 1);
        return 0;
    }
    bool unfinished = false;
    QList<float> expected = expectedTable(data, &unfinished);
    if (unfinished && loaded.size() == expected.size() + 1 && loaded.last() == 0.0f)
        expected.append(0.0f);
    compareTables("loadWeightsTable", loaded, expected, 0);
    compareTables("readWeightsFile", appended, expected, 1);
    return 0;
}
