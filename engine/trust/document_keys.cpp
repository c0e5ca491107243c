#include "engine/trust/document_keys.h"

#include <sstream>

#ifndef QUELDA_DOC_KEYS
#define QUELDA_DOC_KEYS ""
#endif

std::vector<std::string> BuiltInDocumentKeyLines() {
    // Space-separated base64 lines, given to the build (cmake -DQUELDA_DOC_KEYS=...).
    std::istringstream words(QUELDA_DOC_KEYS);
    std::vector<std::string> lines;
    std::string line;
    while (words >> line)
        lines.push_back(line);
    return lines;
}

DocumentKeys SelectDocumentKeys(const std::vector<std::string>& builtInLines,
                                const std::vector<std::string>& configKeys) {
    DocumentKeys selected;
    selected.builtIn = !builtInLines.empty();
    const std::vector<std::string>& lines = selected.builtIn ? builtInLines : configKeys;
    if (selected.builtIn && !configKeys.empty())
        selected.notes.push_back("mainCfg.docKeys ignored: this program has its document keys "
                                 "built in");
    selected.required = !lines.empty();
    for (const std::string& line : lines) {
        MinisignPublicKey key;
        std::string why;
        if (ParseMinisignPublicKey(line, key, why))
            selected.keys.push_back(key);
        else
            selected.notes.push_back(
                std::string(selected.builtIn ? "built-in" : "mainCfg.docKeys") +
                " key not used: " + why);
    }
    return selected;
}
