#pragma once

#include <nlohmann/json.hpp>

#include <string>

// Member order is kept as in the file, so that a rewritten document reads like the original.
using Document = nlohmann::ordered_json;

// JSON text as a document; throws (as nlohmann's parse does) on bad JSON and on nesting
// deeper than kDocumentDepthLimit.
inline constexpr int kDocumentDepthLimit = 32;
Document ParseDocumentText(const std::string& text);

// Reads and parses a UTF-8 JSON file (a UTF-8 byte-order mark is allowed). On failure returns
// false with a message.
bool LoadDocument(const std::string& file, Document& doc, std::string& error);

// Replaces every occurrence of placeholder inside the document's string values by base.
void ReplacePlaceholder(Document& doc, const std::string& placeholder, const std::string& base);

// True when every character of the UTF-8 text has a GBK code.
bool EncodableInGbk(const std::string& utf8);

// The document as GBK-encoded JSON text. Fails (false) instead of dropping characters that
// GBK cannot encode.
bool EncodeDocumentGbk(const Document& doc, std::string& gbk, std::string& error);

// GBK bytes as UTF-8, as the program reads a served document: bytes that are not GBK are
// skipped.
std::string DecodeGbk(const std::string& gbk);

// The document as UTF-8 text, indented, with a final line end.
std::string DumpDocument(const Document& doc);
