#pragma once

// The engine's step between fetching the server document and using it: with keys, the
// document's signature is fetched from the document's URL with ".minisig" appended (the same
// server, the same way as the document) and checked; without keys the document is used
// unsigned, as before.

#include "engine/report/check_report.h"
#include "engine/server_address.h"
#include "engine/trust/document_keys.h"

#include <memory>
#include <spdlog/logger.h>
#include <string>
#include <vector>

// What the report's system.signature says.
inline constexpr char kDocumentUnsigned[] = "unsigned";
inline constexpr char kDocumentSigned[] = "signed";
// Keys are configured, but this document was not verified (or did not arrive).
inline constexpr char kDocumentUnverified[] = "unverified";

// The network row's record of a document used unsigned by a program without keys.
inline constexpr char kUnsignedAcceptedText[] =
    "服务器配置未签名（本程序未配置验证公钥，接受未签名的配置）";

// Says in the log, once a program starts, whether it requires signed documents, and with
// which keys; a program without keys says that it accepts unsigned ones.
void LogDocumentKeys(const DocumentKeys& keys, const std::shared_ptr<spdlog::logger>& logger);

struct DocumentTrust {
    // The document verified against a key: every installer it names must carry a sha256.
    bool verified = false;
    std::string state = kDocumentUnsigned;
};

// Before a document has arrived.
DocumentTrust InitialTrust(const DocumentKeys& keys);

// `body` is the document as served. Adds the network row's "signature" fact (and, where the
// signature's serial and expiry were read, a "signatureTerms" fact with them), logs the
// verdict and, on acceptance, raises the rollback floor; a floor that cannot be read or
// raised refuses the document. 1 when the document may be used.
int CheckDocumentTrust(const DocumentKeys& keys, const ServerAddress& address,
                       const std::string& url, const std::string& body,
                       std::vector<CheckFact>& facts, DocumentTrust& trust,
                       const std::shared_ptr<spdlog::logger>& logger);
