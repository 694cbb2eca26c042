// Build check: every test function a suite's source declares must be one the
// built suite runs. moc can lose slots silently (a raw string literal it
// misreads, a macro it does not expand) and CTest cannot notice, so this reads
// the declarations itself and compares them with the binary's "-functions".
//
//   testslots SOURCE BINARY
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

// The source as identifier and punctuation tokens: comments, string and
// character literals (raw strings included) and preprocessor lines dropped.
std::vector<std::string> tokens(const std::string &s)
{
    std::vector<std::string> out;
    size_t i = 0;
    const size_t n = s.size();
    bool lineStart = true;
    while (i < n) {
        const char c = s[i];
        if (c == '\n') {
            lineStart = true;
            ++i;
            continue;
        }
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
            continue;
        }
        if (lineStart && c == '#') { // directive, with its continuations
            while (i < n && s[i] != '\n')
                i += (s[i] == '\\' && i + 1 < n) ? 2 : 1;
            continue;
        }
        lineStart = false;
        if (s.compare(i, 2, "//") == 0) {
            while (i < n && s[i] != '\n')
                ++i;
            continue;
        }
        if (s.compare(i, 2, "/*") == 0) {
            const size_t end = s.find("*/", i + 2);
            i = end == std::string::npos ? n : end + 2;
            continue;
        }
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            size_t j = i;
            while (j < n && (std::isalnum(static_cast<unsigned char>(s[j])) || s[j] == '_'))
                ++j;
            const std::string word = s.substr(i, j - i);
            // Encoding prefixes and raw strings: R"delim( ... )delim"
            if (j < n && s[j] == '"' && !word.empty() && word.back() == 'R' &&
                (word == "R" || word == "u8R" || word == "uR" || word == "UR" || word == "LR")) {
                const size_t open = s.find('(', j);
                if (open == std::string::npos)
                    return out;
                const std::string close = ")" + s.substr(j + 1, open - j - 1) + "\"";
                const size_t end = s.find(close, open);
                i = end == std::string::npos ? n : end + close.size();
                continue;
            }
            if (j < n && (s[j] == '"' || s[j] == '\'') &&
                (word == "u8" || word == "u" || word == "U" || word == "L")) {
                i = j; // the literal itself is skipped below
                continue;
            }
            out.push_back(word);
            i = j;
            continue;
        }
        if (c == '"' || c == '\'') {
            size_t j = i + 1;
            while (j < n && s[j] != c && s[j] != '\n')
                j += (s[j] == '\\') ? 2 : 1;
            i = j + 1;
            continue;
        }
        if (std::isdigit(static_cast<unsigned char>(c))) { // numbers, with digit separators
            size_t j = i;
            while (j < n &&
                   (std::isalnum(static_cast<unsigned char>(s[j])) || s[j] == '\'' || s[j] == '.'))
                ++j;
            i = j;
            continue;
        }
        out.emplace_back(1, c);
        ++i;
    }
    return out;
}

bool isAccess(const std::string &t)
{
    return t == "public" || t == "protected" || t == "private" || t == "signals" ||
           t == "Q_SIGNALS";
}

// The private slots of the class that QTEST_*MAIN names (or of the object a
// main() of the suite's own hands to QTest::qExec), as QtTest would run them:
// no parameters, void, not the init/cleanup functions, not the _data ones.
std::set<std::string> declaredTests(const std::vector<std::string> &t)
{
    std::string testClass;
    for (size_t i = 0; i + 2 < t.size(); ++i) {
        if ((t[i] == "QTEST_MAIN" || t[i] == "QTEST_GUILESS_MAIN" ||
             t[i] == "QTEST_APPLESS_MAIN") &&
            t[i + 1] == "(")
            testClass = t[i + 2];
        if (t[i] == "qExec" && t[i + 1] == "(" && i + 3 < t.size() && t[i + 2] == "&") {
            // "TestClass name;" before it
            for (size_t j = i; j-- > 1;)
                if (t[j] == t[i + 3] && j + 1 < t.size() && t[j + 1] == ";") {
                    testClass = t[j - 1];
                    break;
                }
        }
    }
    std::set<std::string> names;
    if (testClass.empty())
        return names;
    size_t i = 0;
    for (; i + 1 < t.size(); ++i)
        if ((t[i] == "class" || t[i] == "struct") && t[i + 1] == testClass) {
            size_t j = i + 2;
            while (j < t.size() && t[j] != "{" && t[j] != ";")
                ++j;
            if (j < t.size() && t[j] == "{") {
                i = j;
                break;
            }
        }
    if (i + 1 >= t.size())
        return names;
    int depth = 0;
    bool inTestSlots = false;
    for (size_t k = i; k < t.size(); ++k) {
        const std::string &w = t[k];
        if (w == "{" || w == "(" || w == "[") {
            ++depth;
            continue;
        }
        if (w == "}" || w == ")" || w == "]") {
            if (--depth == 0)
                break;
            continue;
        }
        if (depth != 1)
            continue;
        if (isAccess(w)) {
            size_t m = k + 1;
            const bool slots = m < t.size() && (t[m] == "slots" || t[m] == "Q_SLOTS");
            if (slots)
                ++m;
            if (m < t.size() && t[m] == ":") {
                inTestSlots = w == "private" && slots;
                k = m;
            }
            continue;
        }
        if (inTestSlots && w == "void" && k + 3 < t.size() && t[k + 2] == "(" && t[k + 3] == ")") {
            const std::string &name = t[k + 1];
            const bool dataFunction =
                name.size() > 5 && name.compare(name.size() - 5, 5, "_data") == 0;
            if (!dataFunction && name != "initTestCase" && name != "cleanupTestCase" &&
                name != "init" && name != "cleanup")
                names.insert(name);
        }
    }
    return names;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::cerr << "usage: testslots SOURCE BINARY\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::cerr << "testslots: cannot read " << argv[1] << "\n";
        return 2;
    }
    const std::string source((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
    const std::set<std::string> declared = declaredTests(tokens(source));

    const std::string command = std::string("\"") + argv[2] + "\" -functions";
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) {
        std::cerr << "testslots: cannot run " << argv[2] << "\n";
        return 2;
    }
    std::set<std::string> runs;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe)) {
        std::string name(line);
        const size_t paren = name.find("()");
        if (paren != std::string::npos)
            runs.insert(name.substr(0, paren));
    }
    if (pclose(pipe) != 0) {
        std::cerr << "testslots: " << argv[2] << " -functions failed\n";
        return 1;
    }

    int missing = 0;
    for (const std::string &name : declared)
        if (!runs.count(name)) {
            std::cerr << argv[1] << ": test function " << name
                      << "() is declared but the built suite does not run it\n";
            ++missing;
        }
    if (declared.empty()) {
        std::cerr << argv[1] << ": no test functions found in the source\n";
        return 1;
    }
    return missing == 0 ? 0 : 1;
}
