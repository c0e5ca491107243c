#pragma once

// The public keys a server document must be signed with. Keys built into the program (the
// Windows package: scripts/package-windows --doc-key) win; otherwise mainCfg.docKeys of
// config.json. No key at all: documents are used unsigned, as before signing existed.

#include "engine/trust/minisign.h"

#include <string>
#include <vector>

struct DocumentKeys {
    // Keys were configured (built in or in config.json): documents must be signed, even
    // when none of them parses.
    bool required = false;
    bool builtIn = false;
    std::vector<MinisignPublicKey> keys;
    // What the diagnostic log should say: keys that do not parse, docKeys ignored.
    std::vector<std::string> notes;
};

// The base64 lines built into this program (empty in a build without them).
std::vector<std::string> BuiltInDocumentKeyLines();

// The keys in force, from the built-in lines or, without those, from `configKeys`.
DocumentKeys SelectDocumentKeys(const std::vector<std::string>& builtInLines,
                                const std::vector<std::string>& configKeys);
