// What every transport shares, whichever platform's stack carries the bytes.
#include "engine/transport/transport.h"

namespace {
bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}
} // namespace

std::string TransportResponse::Header(const std::string& name) const {
    for (const auto& header : headers)
        if (SameNameIgnoringCase(header.first, name))
            return header.second;
    return std::string();
}
