#include "files_match.h"

#include <cstddef>
#include <vector>

namespace winshim {

namespace {

// Splits UTF-8 into characters (one to four bytes each; stray bytes stand alone).
std::vector<std::string> Characters(const std::string& text) {
    std::vector<std::string> out;
    for (size_t i = 0; i < text.size();) {
        size_t len = 1;
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0xF0)
            len = 4;
        else if (c >= 0xE0)
            len = 3;
        else if (c >= 0xC0)
            len = 2;
        if (i + len > text.size())
            len = 1;
        for (size_t k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                len = 1;
        out.push_back(text.substr(i, len));
        i += len;
    }
    return out;
}

char Fold(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Iterative glob with single-star backtracking: linear in practice, no recursion.
bool Glob(const std::vector<std::string>& p, const std::vector<std::string>& n) {
    size_t pi = 0, ni = 0, starP = std::string::npos, starN = 0;
    while (ni < n.size()) {
        if (pi < p.size() && p[pi] == "*") {
            starP = pi++;
            starN = ni;
        } else if (pi < p.size() && (p[pi] == "?" || SameFileName(p[pi], n[ni]))) {
            ++pi;
            ++ni;
        } else if (starP != std::string::npos) {
            pi = starP + 1;
            ni = ++starN;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == "*")
        ++pi;
    return pi == p.size();
}

} // namespace

bool HasWildcard(const std::string& pattern) {
    return pattern.find_first_of("*?") != std::string::npos;
}

bool MatchFileName(const std::string& pattern, const std::string& name) {
    if (pattern == "*" || pattern == "*.*")
        return true;
    const auto p = Characters(pattern);
    const auto n = Characters(name);
    if (Glob(p, n))
        return true;
    // "name.*" also names "name" itself.
    if (p.size() >= 2 && p[p.size() - 2] == "." && p.back() == "*")
        return Glob(std::vector<std::string>(p.begin(), p.end() - 2), n);
    return false;
}

bool SameFileName(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Fold(a[i]) != Fold(b[i]))
            return false;
    return true;
}

} // namespace winshim
