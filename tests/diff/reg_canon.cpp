// Prints the keys and values of registry files as sorted lines "key<TAB>name<TAB>type<TAB>
// hex bytes" (names upper-cased, as Windows compares them), so that the exports of two
// registry implementations can be compared with diff. Files are read as an import reads
// them; each file is applied over the ones before it.
#include "reg_parse.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

using namespace winshim::reg;

int main(int argc, char** argv) {
    RegModel model;
    for (int i = 1; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        std::vector<RegOp> ops;
        std::vector<ParseError> warnings;
        ParseError error;
        if (!in || !ParseImportText(bytes.str(), &ops, &error, &warnings)) {
            std::fprintf(stderr, "%s line %d: %s\n", argv[i], error.line, error.message.c_str());
            return 1;
        }
        for (const ParseError& w : warnings)
            std::fprintf(stderr, "%s line %d: %s\n", argv[i], w.line, w.message.c_str());
        ApplyRegOps(ops, &model);
    }
    std::vector<std::string> lines;
    for (const RegKey* key : model.TreeOrder()) {
        lines.push_back(FoldCase(key->path));
        for (const RegValue& v : key->values) {
            std::string hex;
            char buf[4];
            for (uint8_t b : v.data) {
                std::snprintf(buf, sizeof buf, "%02x", b);
                hex += buf;
            }
            lines.push_back(FoldCase(key->path) + "\t" + FoldCase(v.name) + "\t" +
                            std::to_string(v.type) + "\t" + hex);
        }
    }
    std::sort(lines.begin(), lines.end());
    for (const std::string& l : lines)
        std::printf("%s\n", l.c_str());
    return 0;
}
