// Writes the sources of the big benchmark book into a folder: 20,000 pages of generated prose in
// 200 chapter folders, a contents sitemap with one entry per chapter and one per page, and a
// project file with a full-text index, ready for chmcmd.
//
// The text is the same on every run (a fixed pseudo-random sequence). Words follow a steep
// frequency curve over a few hundred common English words and twelve thousand made-up ones,
// so the index has both long and short location lists. Some words have known counts:
//   "omnibus"    every page
//   "zeitgeist"  every 200th page (100 pages)
//   "quixotic"   3 pages
//   "xylograph"  1 page
// Made-up words never contain q, x or z, and none of the four is among the common words.

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <iostream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/types.h>

namespace {

constexpr int kChapters = 200;
constexpr int kPagesPerChapter = 100;
constexpr int kPages = kChapters * kPagesPerChapter;
// Enough made-up words for a realistic index, few enough that chmcmd keeps the word tree at two
// levels: it writes the last node of a third level with two stray bytes after the free-space
// field, which hides every word sorted into that node.
constexpr int kMadeUpWords = 12000;

const char* const kCommonWords[] = {
    "the", "of", "and", "to", "in", "is", "that", "it", "for", "as", "with", "was", "on", "be",
    "by", "at", "this", "from", "or", "an", "are", "which", "but", "not", "have", "all", "one",
    "were", "their", "there", "been", "has", "when", "more", "can", "will", "if", "no", "other",
    "into", "some", "out", "time", "up", "only", "new", "its", "two", "then", "first", "would",
    "about", "over", "these", "after", "may", "such", "where", "most", "through", "many",
    "before", "must", "made", "each", "between", "under", "same", "while", "long", "should",
    "because", "during", "without", "against", "never", "world", "water", "house", "river",
    "window", "garden", "mountain", "village", "market", "harbour", "bridge", "forest", "winter",
    "summer", "morning", "evening", "letter", "number", "table", "chapter", "library", "printer",
    "engine", "wheel", "station", "signal", "message", "record", "lantern", "meadow", "orchard",
    "kettle", "ladder", "candle", "pocket", "ribbon", "saddle", "thimble", "anchor", "compass",
    "harvest", "journey", "shadow", "silver", "copper", "marble", "timber", "thunder", "weather",
    "island", "valley", "castle", "tower", "street", "corner", "cellar", "attic", "kitchen",
    "parlour", "doctor", "farmer", "sailor", "weaver", "miller", "baker", "tailor", "painter",
    "teacher", "student", "captain", "merchant", "traveller", "stranger", "neighbour", "cousin",
    "daughter", "brother", "sister", "mother", "father", "friend", "figure", "measure", "pattern",
    "system", "method", "problem", "answer", "question", "reason", "result", "example", "section",
    "surface", "balance", "quality", "quantity", "distance", "direction", "position", "pressure",
    "temperature", "language", "history", "science", "music", "picture", "story", "paper",
    "stone", "glass", "cloth", "bread", "apple", "cherry", "butter", "honey", "pepper", "salt",
    "walk", "run", "carry", "build", "open", "close", "follow", "gather", "measure", "travel",
    "remember", "answer", "listen", "borrow", "wander", "whisper", "repair", "deliver", "arrange",
    "observe", "explain", "discover", "consider", "describe", "prepare", "protect", "return",
    "quiet", "bright", "heavy", "narrow", "gentle", "simple", "careful", "ancient", "modern",
    "hollow", "golden", "crooked", "sudden", "steady", "patient", "curious", "distant", "famous",
    "little", "great", "small", "large", "early", "late", "young", "old", "green", "blue", "red",
    "white", "black", "yellow", "brown", "grey", "warm", "cold", "dry", "wet", "soft", "hard",
    "slowly", "quickly", "often", "always", "almost", "perhaps", "again", "already", "together",
    "nearly", "rather", "indeed", "however", "therefore", "meanwhile", "afterwards", "otherwise",
};

// A fixed 64-bit generator, so that the book comes out the same with every compiler.
class Random
{
public:
    explicit Random(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 7;
        m_state ^= m_state << 17;
        return m_state;
    }
    int below(int n) { return int(next() % std::uint64_t(n)); }
    double unit() { return double(next() >> 11) / double(std::uint64_t(1) << 53); }

private:
    std::uint64_t m_state;
};

std::vector<std::string> makeUpWords(Random& random)
{
    static const char* const onsets[] = {"b", "br", "c", "ch", "cl", "d", "dr", "f", "fl", "g",
                                         "gr", "h", "k", "l", "m", "n", "p", "pl", "r", "s",
                                         "sh", "sk", "st", "t", "th", "tr", "v", "w"};
    static const char* const vowels[] = {"a", "e", "i", "o", "u", "ai", "ea", "ou", "y"};
    static const char* const codas[] = {"", "", "n", "r", "l", "m", "s", "t", "nd", "rk", "st"};
    std::vector<std::string> words;
    words.reserve(kMadeUpWords);
    while (int(words.size()) < kMadeUpWords) {
        std::string word;
        const int syllables = 2 + random.below(3);
        for (int s = 0; s < syllables; ++s) {
            word += onsets[random.below(int(std::size(onsets)))];
            word += vowels[random.below(int(std::size(vowels)))];
        }
        word += codas[random.below(int(std::size(codas)))];
        words.push_back(word);  // an occasional repeat only makes that word more common
    }
    return words;
}

// Index into a list of n words with a steep curve: low indices are far more likely.
int skewed(Random& random, int n, int steepness)
{
    double x = random.unit();
    const double u = x;
    for (int i = 1; i < steepness; ++i)
        x *= u;
    return int(double(n) * x) % n;
}

class Generator
{
public:
    explicit Generator(std::uint64_t seed) : m_random(seed), m_madeUp(makeUpWords(m_random)) {}

    std::string word()
    {
        if (m_random.below(100) < 62) {
            const int n = int(std::size(kCommonWords));
            return kCommonWords[skewed(m_random, n, 2)];
        }
        return m_madeUp[std::size_t(skewed(m_random, kMadeUpWords, 3))];
    }

    std::string words(int count)
    {
        std::string out;
        for (int i = 0; i < count; ++i) {
            if (i > 0)
                out += ' ';
            out += word();
        }
        return out;
    }

    std::string sentence()
    {
        std::string s = words(6 + m_random.below(11));
        s[0] = char(s[0] - 'a' + 'A');
        return s + '.';
    }

    Random& random() { return m_random; }

private:
    Random m_random;
    std::vector<std::string> m_madeUp;
};

std::string chapterFolder(int chapter)
{
    char name[16];
    std::snprintf(name, sizeof name, "ch%03d", chapter + 1);
    return name;
}

std::string pagePath(int chapter, int page)
{
    char name[32];
    std::snprintf(name, sizeof name, "%s/p%03d.htm", chapterFolder(chapter).c_str(), page + 1);
    return name;
}

std::string capitalised(std::string s)
{
    if (!s.empty() && s[0] >= 'a' && s[0] <= 'z')
        s[0] = char(s[0] - 'a' + 'A');
    return s;
}

bool writeFile(const std::string& path, const std::string& text)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    if (!file) {
        std::cerr << "make_big_book: cannot write " << path << '\n';
        return false;
    }
    return true;
}

std::string pageHtml(Generator& gen, const std::string& title, int index)
{
    std::string html;
    html += "<html>\n<head>\n<title>" + title + "</title>\n</head>\n<body>\n";
    html += "<h1>" + title + "</h1>\n";
    const int paragraphs = 4 + gen.random().below(4);
    for (int p = 0; p < paragraphs; ++p) {
        html += "<p>";
        const int sentences = 3 + gen.random().below(4);
        for (int s = 0; s < sentences; ++s) {
            if (s > 0)
                html += ' ';
            html += gen.sentence();
        }
        if (p == 0)
            html += " The omnibus stops here.";
        html += "</p>\n";
    }
    if (index % 200 == 17)
        html += "<p>Every age has its zeitgeist.</p>\n";
    if (index == 4242 || index == 9999 || index == 15151)
        html += "<p>A quixotic plan, but it worked.</p>\n";
    if (index == 12345)
        html += "<p>The xylograph hangs in the hall.</p>\n";
    html += "</body>\n</html>\n";
    return html;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: make_big_book <folder>\n";
        return 2;
    }
    const std::string root = argv[1];
    ::mkdir(root.c_str(), 0755);

    Generator gen(0x5EED0F7A6E1C1ULL);
    std::string contents =
        "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML//EN\">\n<HTML>\n<HEAD>\n</HEAD><BODY>\n<UL>\n";
    std::string files;

    for (int chapter = 0; chapter < kChapters; ++chapter) {
        const std::string folder = root + '/' + chapterFolder(chapter);
        ::mkdir(folder.c_str(), 0755);
        const std::string chapterTitle =
            "Chapter " + std::to_string(chapter + 1) + ": " + capitalised(gen.words(2));
        contents += "\t<LI> <OBJECT type=\"text/sitemap\">\n"
                    "\t\t<param name=\"Name\" value=\"" + chapterTitle + "\">\n"
                    "\t\t<param name=\"Local\" value=\"" + pagePath(chapter, 0) + "\">\n"
                    "\t\t<param name=\"ImageNumber\" value=\"1\">\n"
                    "\t\t</OBJECT>\n\t<UL>\n";
        for (int page = 0; page < kPagesPerChapter; ++page) {
            const int index = chapter * kPagesPerChapter + page;
            const std::string path = pagePath(chapter, page);
            const std::string title = "Topic " + std::to_string(index + 1) + ": " +
                                      capitalised(gen.words(2 + gen.random().below(3)));
            if (!writeFile(root + '/' + path, pageHtml(gen, title, index)))
                return 1;
            contents += "\t\t<LI> <OBJECT type=\"text/sitemap\">\n"
                        "\t\t\t<param name=\"Name\" value=\"" + title + "\">\n"
                        "\t\t\t<param name=\"Local\" value=\"" + path + "\">\n"
                        "\t\t\t<param name=\"ImageNumber\" value=\"11\">\n"
                        "\t\t\t</OBJECT>\n";
            files += path + '\n';
        }
        contents += "\t</UL>\n";
    }
    contents += "</UL>\n</BODY></HTML>\n";

    const std::string project =
        "[OPTIONS]\n"
        "Compatibility=1.1 or later\n"
        "Compiled file=big.chm\n"
        "Contents file=big.hhc\n"
        "Default topic=" + pagePath(0, 0) + "\n"
        "Display compile progress=No\n"
        "Full-text search=Yes\n"
        "Language=0x409 English (United States)\n"
        "Title=The Big Benchmark Book\n"
        "\n[FILES]\n" + files;

    if (!writeFile(root + "/big.hhc", contents) || !writeFile(root + "/big.hhp", project))
        return 1;
    std::cout << "make_big_book: wrote " << kPages << " pages into " << root << '\n';
    return 0;
}
