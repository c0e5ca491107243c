#pragma once

// The operator's side of signed documents: the check of an exported document and its
// .minisig before it goes to the web server, and what serving it byte for byte needs.

#include "document.h"

#include "engine/trust/document_signature.h"

#include <string>
#include <vector>

// The bytes of a file; false with `error` when it cannot be read.
bool ReadFileBytes(const std::string& file, std::string& bytes, std::string& error);

// The minisign public keys of .pub files (or files holding only the base64 line).
bool LoadDocKeys(const std::vector<std::string>& files, std::vector<MinisignPublicKey>& keys,
                 std::string& error);

// A document as served (GBK bytes) parsed for validation.
bool ParseServedDocument(const std::string& gbk, Document& doc, std::string& error);

// What keeps a signed document from being used by the tool, one line each: the signature
// (missing, by another key, not matching, its trusted comment without serial or expires,
// expired) and every installer entry without a sha256. Empty when nothing is missing.
// `verdict` receives the signature's verdict when there was one.
std::vector<std::string> SignedDocumentProblems(const std::string& documentFile,
                                                const std::string& bytes, Document doc,
                                                const std::vector<MinisignPublicKey>& keys,
                                                long long now, SignatureVerdict& verdict);
