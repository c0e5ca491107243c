// The registry file reader on arbitrary bytes: it must not crash, and whatever it accepts
// must read back the same after writing.
#include "reg_parse.h"
#include "reg_write.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace winshim::reg;
    RegModel model;
    ParseError error;
    if (!LoadRegText(std::string(reinterpret_cast<const char*>(data), size), &model, &error))
        return 0;
    std::string text = SerializeRegistry(model);
    RegModel again;
    if (!LoadRegText(text, &again, &error) || !again.SameContent(model))
        std::abort();
    if (SerializeRegistry(again) != text)
        std::abort();
    return 0;
}
