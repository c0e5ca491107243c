#include "report_code.h"

#include <cerrno>
#include <sys/random.h>

namespace {

const char kAlphabet[] = "0123456789ABCDEFGHJKMNPQRSTVWXYZ";
constexpr size_t kLength = 8;

} // namespace

std::string NewReportCode() {
    unsigned char bytes[5];
    size_t got = 0;
    while (got < sizeof bytes) {
        ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return {};
        got += static_cast<size_t>(n);
    }
    std::uint64_t bits = 0;
    for (unsigned char b : bytes)
        bits = (bits << 8) | b;
    std::string code(kLength, '0');
    for (size_t i = kLength; i-- > 0; bits >>= 5)
        code[i] = kAlphabet[bits & 31];
    return code;
}

std::string NormalizeReportCode(const std::string& typed) {
    std::string code;
    for (char c : typed) {
        if (c == '-' || c == ' ')
            continue;
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        if (c == 'O')
            c = '0';
        else if (c == 'I' || c == 'L')
            c = '1';
        bool known = false;
        for (const char* a = kAlphabet; *a; ++a)
            known = known || *a == c;
        if (!known || code.size() == kLength)
            return {};
        code += c;
    }
    return code.size() == kLength ? code : std::string();
}

std::string DisplayReportCode(const std::string& code) {
    return code.size() == kLength ? code.substr(0, 4) + "-" + code.substr(4) : code;
}
