#include "document.h"

#include <boost/locale/encoding.hpp>

#include <fstream>
#include <sstream>
#include <stdexcept>

Document ParseDocumentText(const std::string& text) {
    // The parser itself keeps no call stack per level, but whatever walks the document
    // afterwards may.
    const Document::parser_callback_t depthLimit = [](int depth, nlohmann::json::parse_event_t,
                                                      Document&) {
        if (depth > kDocumentDepthLimit)
            throw std::runtime_error("nested deeper than " + std::to_string(kDocumentDepthLimit) +
                                     " levels");
        return true;
    };
    return Document::parse(text, depthLimit);
}

bool LoadDocument(const std::string& file, Document& doc, std::string& error) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = "cannot open " + file;
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        error = "cannot read " + file;
        return false;
    }
    std::string content = text.str();
    if (content.rfind("\xEF\xBB\xBF", 0) == 0)
        content.erase(0, 3);
    try {
        doc = ParseDocumentText(content);
    } catch (const std::exception& e) {
        error = file + " is not valid JSON: " + e.what();
        return false;
    }
    return true;
}

void ReplacePlaceholder(Document& doc, const std::string& placeholder, const std::string& base) {
    if (doc.is_string()) {
        std::string& s = doc.get_ref<std::string&>();
        for (size_t at = s.find(placeholder); at != std::string::npos;
             at = s.find(placeholder, at + base.size()))
            s.replace(at, placeholder.size(), base);
    } else if (doc.is_structured()) {
        for (auto& item : doc)
            ReplacePlaceholder(item, placeholder, base);
    }
}

bool EncodableInGbk(const std::string& utf8) {
    try {
        boost::locale::conv::between(utf8, "GBK", "UTF-8", boost::locale::conv::stop);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool EncodeDocumentGbk(const Document& doc, std::string& gbk, std::string& error) {
    try {
        gbk = boost::locale::conv::between(doc.dump(2, ' ', false), "GBK", "UTF-8",
                                           boost::locale::conv::stop);
        return true;
    } catch (const std::exception& e) {
        error = std::string("the document cannot be encoded in GBK: ") + e.what();
        return false;
    }
}

std::string DecodeGbk(const std::string& gbk) {
    return boost::locale::conv::between(gbk, "UTF-8", "GBK", boost::locale::conv::skip);
}

std::string DumpDocument(const Document& doc) {
    return doc.dump(2, ' ', false) + "\n";
}
