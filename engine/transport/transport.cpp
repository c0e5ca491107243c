// What every transport shares, whichever platform's stack carries the bytes.
#include "engine/transport/transport.h"

#include "common/text/ascii.h"

std::string TransportResponse::Header(const std::string& name) const {
    for (const auto& header : headers)
        if (ascii::EqualIgnoringCase(header.first, name))
            return header.second;
    return std::string();
}
