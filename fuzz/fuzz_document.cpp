// The server document's check (quelda-confserver --check) over arbitrary text, read as a file
// (UTF-8) and as served (GBK): it must end in a verdict, never in a crash, whatever the
// values, their lengths or their nesting.
#include "document.h"
#include "document_validation.h"

#include "options.h"

#include <cstdint>
#include <exception>
#include <string>

namespace {

void Check(const std::string& text) {
    Document doc;
    try {
        doc = ParseDocumentText(text);
    } catch (const std::exception&) {
        return; // not JSON, or nested too deep: refused when read
    }
    ValidateDocument(doc, kBasePlaceholder);
    UnprotectedInstallerUrls(doc);
    UnboundedInstallers(doc);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Check(text);
    Check(DecodeGbk(text));
    return 0;
}
