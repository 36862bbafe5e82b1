// Book text encodings: the codec chosen from the book's language identifier, decoding of
// 8-bit book text (UTF-8 text in a book of a legacy code page included), and the byte form
// of a search word that the full-text index compares.

#include "bytereader.h"
#include "lchmfileimpl.h"

#include <QTextCodec>
#include <QtDebug>

#include <cstring>
#include <iterator>

namespace {

const quint16 lcidsArabic[] = { 0x1401, 0x3C01, 0x0C01, 0x0801, 0x2C01, 0x3401, 0x3001, 0x1001, 0x1801,
                                0x2001, 0x4001, 0x0401, 0x2801, 0x1C01, 0x3801, 0x2401, 0x0429, 0x0420, 0 };
const quint16 lcidsBaltic[] = { 0x0425, 0x0426, 0x0427, 0 };
const quint16 lcidsCentralEuropean[] = { 0x041C, 0x041A, 0x0405, 0x040E, 0x0415, 0x0418, 0x081A, 0x041B, 0x0424, 0 };
const quint16 lcidsChineseGB18030[] = { 0x0404, 0 };
const quint16 lcidsChineseGBK[] = { 0x0804, 0 };
const quint16 lcidsChineseGB2312[] = { 0x1004, 0 };
const quint16 lcidsChineseBig5[] = { 0x0C04, 0x1404, 0x0404, 0 };
const quint16 lcidsChineseBig5HKSCS[] = { 0x0404, 0 };
const quint16 lcidsCyrillic[] = { 0x082C, 0x0423, 0x0402, 0x042F, 0x0419, 0x0C1A, 0x0444, 0x0422, 0x0843, 0 };
const quint16 lcidsCyrillicKoi8r[] = { 0x7001, 0 };
const quint16 lcidsCyrillicBroken1[] = { 0x7002, 0 };
const quint16 lcidsCyrillicBroken2[] = { 0x7003, 0 };
const quint16 lcidsGreek[] = { 0x0408, 0 };
const quint16 lcidsHebrew[] = { 0x040D, 0 };
const quint16 lcidsJapanese[] = { 0x0411, 0 };
const quint16 lcidsKorean[] = { 0x0412, 0 };
const quint16 lcidsTamil[] = { 0x0449, 0 };
const quint16 lcidsThai[] = { 0x041E, 0 };
const quint16 lcidsUkrainian[] = { 0x7006, 0 };
const quint16 lcidsTurkish[] = { 0x042C, 0x041F, 0x0443, 0 };
const quint16 lcidsVietnamese[] = { 0x042A, 0 };
const quint16 lcidsUtf8[] = { 0x7004, 0 };
const quint16 lcidsUtf16[] = { 0x7005, 0 };
const quint16 lcidsWestern[] = {
    0x0436, 0x042D, 0x0403, 0x0406, 0x0813, 0x0413, 0x0C09, 0x2809, 0x1009, 0x2409, 0x1809, 0x2009, 0x1409,
    0x3409, 0x1C09, 0x2C09, 0x0809, 0x0409, 0x0438, 0x040B, 0x080C, 0x0C0C, 0x040C, 0x140C, 0x100C, 0x0C07,
    0x0407, 0x1407, 0x1007, 0x0807, 0x040F, 0x0421, 0x0410, 0x0810, 0x083E, 0x043E, 0x0414, 0x0814, 0x0416,
    0x0816, 0x0432, 0x2C0A, 0x400A, 0x340A, 0x240A, 0x140A, 0x1C0A, 0x300A, 0x440A, 0x100A, 0x480A, 0x080A,
    0x4C0A, 0x180A, 0x3C0A, 0x280A, 0x500A, 0x0C0A, 0x380A, 0x200A, 0x0441, 0x081D, 0x041D, 0x0434, 0x0435,
    0x042B, 0x042C, 0x0439, 0x043A, 0x044E, 0x044F, 0x081A, 0x0443, 0 };

// Several identifiers stand in more than one row: the first row wins. The 0x700x values are
// not Windows identifiers; only books that store them select those rows.
const LCHMTextEncoding encodingTable[] = {
    { "Arabic", "CP1256", lcidsArabic },
    { "Baltic", "CP1257", lcidsBaltic },
    { "Central European", "CP1250", lcidsCentralEuropean },
    { "Chinese Simplified", "GB18030", lcidsChineseGB18030 },
    { "Chinese Simplified", "GBK", lcidsChineseGBK },
    { "Chinese Simplified", "GB2312", lcidsChineseGB2312 },
    { "Chinese Traditional", "Big5", lcidsChineseBig5 },
    { "Chinese Traditional", "Big5-HKSCS", lcidsChineseBig5HKSCS },
    { "Cyrillic", "CP1251", lcidsCyrillic },
    { "Cyrillic", "KOI8-R", lcidsCyrillicKoi8r },
    { "Cyrillic Broken", "CP1251/KOI8-R", lcidsCyrillicBroken1 },
    { "Cyrillic Broken", "KOI8-R/CP1251", lcidsCyrillicBroken2 },
    { "Greek", "CP1253", lcidsGreek },
    { "Hebrew", "CP1255", lcidsHebrew },
    { "Japanese", "eucJP", lcidsJapanese },
    { "Japanese", "JIS7", lcidsJapanese },
    { "Japanese", "Shift-JIS", lcidsJapanese },
    { "Korean", "eucKR", lcidsKorean },
    { "Tamil", "TSCII", lcidsTamil },
    { "Thai", "TIS-620", lcidsThai },
    { "Ukrainian", "KOI8-U", lcidsUkrainian },
    { "Turkish", "CP1254", lcidsTurkish },
    { "Vietnamese", "CP1258", lcidsVietnamese },
    { "Unicode", "UTF-8", lcidsUtf8 },
    { "Unicode", "UTF-16", lcidsUtf16 },
    { "Western", "CP1252", lcidsWestern },
    { nullptr, nullptr, nullptr },
};

// Where the table's first row for a language is not the Windows code page that help
// compilers write its books in, the code page wins: Japanese books are Shift-JIS (932, with
// Microsoft's extensions), Traditional Chinese ones Big5 (950), and Korean and Thai ones use
// the Windows supersets of their national sets (949, 874).
const quint16 lcidsCodePage932[] = { 0x0411, 0 };
const quint16 lcidsCodePage950[] = { 0x0404, 0 };
const quint16 lcidsCodePage949[] = { 0x0412, 0 };
const quint16 lcidsCodePage874[] = { 0x041E, 0 };
const LCHMTextEncoding windowsCodePages[] = {
    { "Japanese", "windows-31j", lcidsCodePage932 },
    { "Chinese Traditional", "Big5", lcidsCodePage950 },
    { "Korean", "windows-949", lcidsCodePage949 },
    { "Thai", "windows-874", lcidsCodePage874 },
    { nullptr, nullptr, nullptr },
};

// The first row of `table` that lists `lcid`, or null.
const LCHMTextEncoding* findRow(const LCHMTextEncoding* table, quint16 lcid)
{
    for (const LCHMTextEncoding* row = table; row->language; ++row) {
        for (const quint16* id = row->lcids; *id; ++id) {
            if (*id == lcid)
                return row;
        }
    }
    return nullptr;
}

// How a search word's bytes from 0x80 up are folded before they are compared with the
// index: accented letters lose their accent, ligatures are spelled out, everything else
// is dropped. Þ and þ stay (and meet after lower-casing). Indexed by byte - 0x80.
const char* const foldTable[] = {
    // 0x80 - 0x8F
    "", "", "", "", "", "", "", "", "", "", "s", "", "oe", "", "", "",
    // 0x90 - 0x9F
    "", "", "", "", "", "", "", "", "", "", "s", "", "oe", "", "", "y",
    // 0xA0 - 0xAF
    "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "",
    // 0xB0 - 0xBF
    "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "",
    // 0xC0 - 0xCF
    "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i", "i",
    // 0xD0 - 0xDF
    "d", "n", "o", "o", "o", "o", "o", "", "o", "u", "u", "u", "u", "y", "\xDE", "ss",
    // 0xE0 - 0xEF
    "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i", "i",
    // 0xF0 - 0xFF
    "o", "n", "o", "o", "o", "o", "o", "", "o", "u", "u", "u", "u", "y", "\xFE", "y",
};
static_assert(std::size(foldTable) == 128, "one fold entry per byte from 0x80 up");

// Lower-cases bytes as Latin-1: A-Z and C0-DE except D7 (the multiplication sign).
void latin1ToLower(QByteArray& bytes)
{
    for (char& c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if ((b >= 'A' && b <= 'Z') || (b >= 0xC0 && b <= 0xDE && b != 0xD7))
            c = static_cast<char>(b + 0x20);
    }
}

// Text in UTF-16 or UTF-32 is never read byte by byte as UTF-8.
bool isWideCodec(const QTextCodec* codec)
{
    const int mib = codec ? codec->mibEnum() : 0;
    return (mib >= 1013 && mib <= 1015) || (mib >= 1017 && mib <= 1019);
}

} // namespace

const LCHMTextEncoding* LCHMFileImpl::findEncodingByLcid(quint16 lcid)
{
    if (const LCHMTextEncoding* row = findRow(windowsCodePages, lcid))
        return row;
    return findRow(encodingTable, lcid);
}

bool LCHMFileImpl::chooseCodecByLcid()
{
    const LCHMTextEncoding* row = lcid ? findEncodingByLcid(lcid) : nullptr;
    if (!row) {
        qWarning("Could not detect text encoding by LCID");
        return false;
    }
    return setUpCodec(QByteArray(row->codecName));
}

bool LCHMFileImpl::setUpCodec(const QByteArray& name)
{
    // A name after "/" must be known too, though only the first one is used.
    const QList<QByteArray> names = name.split('/');
    codec = QTextCodec::codecForName(names.constFirst());
    // A codec that writes the ideograph 一 in two bytes is one of the lead and trail byte sets.
    doubleByteCodec = codec && codec->canEncode(QChar(0x4E00)) && codec->fromUnicode(QStringView(u"\u4E00")).size() == 2;
    for (const QByteArray& each : names) {
        if (!QTextCodec::codecForName(each)) {
            qWarning("Could not set up Text Codec for encoding '%s'", each.constData());
            return false;
        }
    }
    return true;
}

qsizetype LCHMFileImpl::utf8Characters(QByteArrayView bytes, int minimumLength)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype characters = 0;
    for (qsizetype i = 0; i < n;) {
        const unsigned char lead = p[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        // The length from the lead byte, and the range of the second byte that keeps out
        // overlong forms (E0, F0), surrogates (ED) and values above U+10FFFF (F4).
        int length = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            low = lead == 0xE0 ? 0xA0 : low;
            high = lead == 0xED ? 0x9F : high;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            low = lead == 0xF0 ? 0x90 : low;
            high = lead == 0xF4 ? 0x8F : high;
        } else {
            return -1;
        }
        if (n - i < length || p[i + 1] < low || p[i + 1] > high)
            return -1;
        for (int k = 2; k < length; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return -1;
        }
        i += length;
        characters += length >= minimumLength ? 1 : 0;
    }
    return characters;
}

bool LCHMFileImpl::stringTableIsUtf8(QByteArrayView table) const
{
    if (isWideCodec(codec))
        return false;
    const int counted = doubleByteCodec ? 3 : 2;
    qsizetype utf8Strings = 0, otherStrings = 0, characters = 0;
    for (qsizetype start = 0; start < table.size();) {
        qsizetype end = table.indexOf('\0', start);
        if (end < 0)
            end = table.size();
        const qsizetype found = utf8Characters(table.sliced(start, end - start), counted);
        if (found < 0) {
            ++otherStrings;
        } else if (found > 0) {
            ++utf8Strings;
            characters += found;
        }
        start = end + 1;
    }
    return utf8Strings > otherStrings && characters >= MinUtf8Characters;
}

QString LCHMFileImpl::decodeText(const QByteArray& bytes, bool utf8Likely) const
{
    const qsizetype nul = bytes.indexOf('\0');
    const QByteArrayView text(bytes.constData(), nul >= 0 ? nul : bytes.size());
    if (!isWideCodec(codec)) {
        const qsizetype found = utf8Characters(text, doubleByteCodec && !utf8Likely ? 3 : 2);
        if (found >= (utf8Likely ? 1 : MinUtf8Characters))
            return QString::fromUtf8(text);
    }
    if (codec)
        return codec->toUnicode(text.data(), int(qMin<qsizetype>(text.size(), INT_MAX)));
    return QString::fromLatin1(text);
}

QString LCHMFileImpl::decodeText(const char* bytes) const
{
    if (!bytes)
        return QString();
    return decodeText(QByteArray::fromRawData(bytes, qsizetype(std::strlen(bytes))));
}

QByteArray LCHMFileImpl::searchWordBytes(const QString& word) const
{
    if (!codec)
        return ByteReader::cStringAt(word.toLower().toLocal8Bit(), 0).toByteArray();

    // Folding and lower-casing work on the bytes of single-byte characters only. A character
    // that the codec writes in two or more bytes (Shift-JIS, Big5, GBK, UHC) is kept as it
    // is: its lead byte is no accented letter, and its trail byte may lie in the ASCII range
    // (ソ is 83 5C, ア is 83 41), where lower-casing would turn it into another character.
    QTextCodec::ConverterState state;
    QByteArray folded;
    folded.reserve(word.size());
    for (qsizetype i = 0; i < word.size(); ++i) {
        const qsizetype length = word.at(i).isHighSurrogate() && i + 1 < word.size() ? 2 : 1;
        const QByteArray bytes = codec->fromUnicode(word.constData() + i, int(length), &state);
        i += length - 1;
        if (bytes.size() != 1) {
            folded.append(bytes);
            continue;
        }
        const auto b = static_cast<unsigned char>(bytes.at(0));
        QByteArray single = b < 0x80 ? bytes : QByteArray(foldTable[b - 0x80]);
        latin1ToLower(single);
        folded.append(single);
    }
    return folded;
}
