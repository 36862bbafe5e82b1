#include "htmlentities.h"

#include <QLatin1String>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

namespace {

struct Entity
{
    const char* name;
    char32_t code;
};

// The Latin-1 set in code order from U+00A0.
const char* const Latin1Names[96] = {
    "nbsp", "iexcl", "cent", "pound", "curren", "yen", "brvbar", "sect", "uml", "copy", "ordf",
    "laquo", "not", "shy", "reg", "macr", "deg", "plusmn", "sup2", "sup3", "acute", "micro",
    "para", "middot", "cedil", "sup1", "ordm", "raquo", "frac14", "frac12", "frac34", "iquest",
    "Agrave", "Aacute", "Acirc", "Atilde", "Auml", "Aring", "AElig", "Ccedil", "Egrave",
    "Eacute", "Ecirc", "Euml", "Igrave", "Iacute", "Icirc", "Iuml", "ETH", "Ntilde", "Ograve",
    "Oacute", "Ocirc", "Otilde", "Ouml", "times", "Oslash", "Ugrave", "Uacute", "Ucirc", "Uuml",
    "Yacute", "THORN", "szlig", "agrave", "aacute", "acirc", "atilde", "auml", "aring", "aelig",
    "ccedil", "egrave", "eacute", "ecirc", "euml", "igrave", "iacute", "icirc", "iuml", "eth",
    "ntilde", "ograve", "oacute", "ocirc", "otilde", "ouml", "divide", "oslash", "ugrave",
    "uacute", "ucirc", "uuml", "yacute", "thorn", "yuml"};

const Entity Others[] = {
    {"Dstrok", 0xD0},
    {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''},
    {"Prime", '"'}, {"minus", '-'}, {"oplus", '+'}, {"frasl", '/'},
    {"OElig", 0x152}, {"oelig", 0x153}, {"Scaron", 0x160}, {"scaron", 0x161}, {"Yuml", 0x178},
    {"fnof", 0x192}, {"circ", 0x2C6}, {"tilde", 0x2DC},
    {"Delta", 0x394}, {"Pi", 0x3A0}, {"Sigma", 0x3A3}, {"beta", 0x3B2}, {"gamma", 0x3B3},
    {"delta", 0x3B4}, {"eta", 0x3B7}, {"theta", 0x3B8}, {"lambda", 0x3BB}, {"mu", 0x3BC},
    {"nu", 0x3BD}, {"pi", 0x3C0}, {"rho", 0x3C1},
    {"ensp", 0x2002}, {"emsp", 0x2003}, {"thinsp", 0x2009}, {"zwnj", 0x200C}, {"zwj", 0x200D},
    {"ndash", 0x2013}, {"mdash", 0x2014}, {"lsquo", 0x2018}, {"rsquo", 0x2019},
    {"sbquo", 0x201A}, {"ldquo", 0x201C}, {"rdquo", 0x201D}, {"bdquo", 0x201E},
    {"dagger", 0x2020}, {"Dagger", 0x2021}, {"bull", 0x2022}, {"hellip", 0x2026},
    {"permil", 0x2030}, {"lsaquo", 0x2039}, {"rsaquo", 0x203A}, {"euro", 0x20AC},
    {"trade", 0x2122},
    {"larr", 0x2190}, {"uarr", 0x2191}, {"rarr", 0x2192}, {"darr", 0x2193}, {"crarr", 0x21B5},
    {"rArr", 0x21D2},
    {"isin", 0x2208}, {"notin", 0x2209}, {"prod", 0x220F}, {"asymp", 0x2248}, {"ne", 0x2260},
    {"le", 0x2264}, {"ge", 0x2265}, {"lte", 0x2264}, {"gte", 0x2265},
};

// Every name, sorted byte by byte, for a lookup that needs no copy of the name.
const std::vector<Entity>& sortedTable()
{
    static const std::vector<Entity> table = [] {
        std::vector<Entity> t;
        for (int i = 0; i < 96; ++i)
            t.push_back({Latin1Names[i], char32_t(0xA0 + i)});
        t.insert(t.end(), std::begin(Others), std::end(Others));
        std::sort(t.begin(), t.end(), [](const Entity& a, const Entity& b) { return std::strcmp(a.name, b.name) < 0; });
        return t;
    }();
    return table;
}

} // namespace

char32_t HtmlEntities::codePoint(QStringView name)
{
    const std::vector<Entity>& table = sortedTable();
    const auto it = std::lower_bound(table.begin(), table.end(), name, [](const Entity& e, QStringView n) {
        return n.compare(QLatin1String(e.name), Qt::CaseSensitive) > 0;
    });
    return it != table.end() && name.compare(QLatin1String(it->name), Qt::CaseSensitive) == 0 ? it->code : 0;
}
