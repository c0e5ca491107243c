#include "engine/trust/document_check.h"

#include "engine/engine_log.h"
#include "engine/server_document.h"
#include "engine/trust/document_signature.h"
#include "engine/trust/serial_store.h"

#include <chrono>

namespace {

std::string KeyIds(const DocumentKeys& keys) {
    std::string ids;
    for (const MinisignPublicKey& key : keys.keys)
        ids += (ids.empty() ? "" : " ") + KeyIdText(key.keyId);
    return ids;
}

long long UnixNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

DocumentTrust InitialTrust(const DocumentKeys& keys) {
    DocumentTrust trust;
    trust.state = keys.required ? kDocumentUnverified : kDocumentUnsigned;
    return trust;
}

int CheckDocumentTrust(const DocumentKeys& keys, const ServerAddress& address,
                       const std::string& url, const std::string& body,
                       std::vector<CheckFact>& facts, DocumentTrust& trust,
                       const std::shared_ptr<spdlog::logger>& logger) {
    trust = InitialTrust(keys);
    CheckFact fact;
    fact.name = "signature";
    if (!keys.required) {
        fact.ok = true;
        fact.note = "服务器配置未签名（本程序未配置验证公钥）";
        facts.push_back(fact);
        return 1;
    }
    for (const std::string& note : keys.notes)
        ENGINE_LOG(logger, "{}", note);

    const std::string signatureUrl = url + ".minisig";
    const bool v6 = address.host.find(':') != std::string::npos;
    fact.where = "http://" + (v6 ? "[" + address.host + "]" : address.host) + ":" +
                 std::to_string(address.port) + signatureUrl;
    fact.expected = KeyIds(keys);

    SignatureVerdict verdict;
    std::string signatureFile, why;
    DocumentAnswer answer;
    if (keys.keys.empty()) {
        verdict.outcome = SignatureOutcome::NoUsableKey;
    } else if (FetchServerDocument(address, signatureUrl, kDocumentDeadline, signatureFile, why,
                                   &answer) != 1) {
        verdict.outcome = SignatureOutcome::NoSignature;
        ENGINE_LOG(logger, "no document signature at {}: {}", fact.where,
                   answer.status ? "HTTP " + std::to_string(answer.status)
                                 : (why.empty() ? answer.error : why));
    } else {
        verdict =
            VerifyDocumentSignature(body, signatureFile, keys.keys, UnixNow(), ReadAcceptedSerial);
    }
    if (!verdict.keyId.empty())
        fact.found = verdict.keyId;
    fact.note = SignatureRecordText(verdict);
    fact.ok = verdict.outcome == SignatureOutcome::Accepted;
    facts.push_back(fact);
    if (!fact.ok) {
        ENGINE_LOG(logger, "server document not used: {}", SignatureLogText(verdict));
        return -1;
    }
    trust.verified = true;
    trust.state = kDocumentSigned;
    if (RaiseAcceptedSerial(verdict.keyId, verdict.serial) < 0)
        ENGINE_LOG(logger, "document serial {} of key {} not kept in HKEY_LOCAL_MACHINE\\{}",
                   verdict.serial, verdict.keyId, kSerialStoreKey);
    return 1;
}
