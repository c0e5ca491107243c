#include "engine/trust/document_check.h"

#include "engine/engine_log.h"
#include "engine/server_document.h"
#include "engine/trust/document_signature.h"
#include "engine/trust/serial_store.h"
#include "engine/trust/trusted_comment.h"

#include <chrono>

namespace {

std::string KeyIds(const DocumentKeys& keys) {
    std::string ids;
    for (const MinisignPublicKey& key : keys.keys)
        ids += (ids.empty() ? "" : " ") + KeyIdText(key.keyId);
    return ids;
}

std::vector<std::string> KeyIdTexts(const DocumentKeys& keys) {
    std::vector<std::string> ids;
    for (const MinisignPublicKey& key : keys.keys)
        ids.push_back(KeyIdText(key.keyId));
    return ids;
}

// What a fetch of the signature that gave no signature file means.
SignatureOutcome FetchOutcome(int fetched, const DocumentAnswer& answer) {
    if (fetched == -2)
        return SignatureOutcome::SignatureTooLarge;
    if (answer.status == 404 || answer.status == 410)
        return SignatureOutcome::NoSignature;
    return answer.status ? SignatureOutcome::SignatureRefused
                         : SignatureOutcome::SignatureUnreachable;
}

std::string FloorProblem(const SerialFloor& floor) {
    const std::string value =
        "HKEY_LOCAL_MACHINE\\" + std::string(kSerialStoreKey) + "\\" + floor.value;
    if (floor.state == FloorState::Garbled)
        return value + " is not a REG_DWORD";
    return value + ": Windows error " + std::to_string(floor.error);
}

// The signed serial and expiry beside the floor, for the report (the record leaves them out).
CheckFact TermsFact(const CheckFact& signature, const SignatureVerdict& verdict,
                    const SerialFloor& floor) {
    CheckFact fact;
    fact.name = "signatureTerms";
    fact.where = signature.where;
    if (floor.state == FloorState::Found)
        fact.expected = "serial>=" + std::to_string(floor.serial);
    std::string found = "key=" + verdict.keyId + " serial=" + std::to_string(verdict.serial) +
                        " expires=" + UtcTimeText(verdict.expires);
    if (verdict.signedAt)
        found += " signed=" + UtcTimeText(*verdict.signedAt);
    fact.found = found;
    fact.ok = signature.ok;
    return fact;
}

long long UnixNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

void LogDocumentKeys(const DocumentKeys& keys, const std::shared_ptr<spdlog::logger>& logger) {
    if (!keys.required)
        ENGINE_LOG(logger, "no document keys: this program accepts unsigned server documents, "
                           "and their installers without sha256");
    else
        ENGINE_LOG(logger, "server documents must be signed: {} key(s) {}: {}", keys.keys.size(),
                   keys.builtIn ? "built in" : "of config.json", KeyIds(keys));
}

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
        fact.note = kUnsignedAcceptedText;
        facts.push_back(fact);
        return 1;
    }
    for (const std::string& note : keys.notes)
        ENGINE_LOG(logger, "{}", note);

    const std::string signatureUrl = url + ".minisig";
    fact.where = ServerUrlText(address, signatureUrl);
    fact.expected = KeyIds(keys);

    SignatureVerdict verdict;
    std::string signatureFile, why;
    DocumentAnswer answer;
    SerialFloor floor;
    int fetched = 0;
    if (keys.keys.empty()) {
        verdict.outcome = SignatureOutcome::NoUsableKey;
    } else if ((fetched = FetchServerDocument(address, signatureUrl, kDocumentDeadline,
                                              signatureFile, why, &answer)) != 1) {
        verdict.outcome = FetchOutcome(fetched, answer);
        verdict.httpStatus = answer.status;
        verdict.fetchWords = answer.error;
        verdict.detail = fetched != -2 && answer.status ? "HTTP " + std::to_string(answer.status)
                         : why.empty()                  ? answer.error
                                                        : why;
        ENGINE_LOG(logger, "no document signature at {}: {}", fact.where, verdict.detail);
    } else {
        floor = ReadSerialFloor(KeyIdTexts(keys));
        const AcceptedSerialLookup accepted = [&floor](const std::string&, std::uint64_t& serial) {
            serial = floor.serial;
            return floor.state == FloorState::Found;
        };
        verdict = VerifyDocumentSignature(body, signatureFile, keys.keys, UnixNow(), accepted);
        if (verdict.outcome == SignatureOutcome::Accepted &&
            (floor.state == FloorState::Unreadable || floor.state == FloorState::Garbled)) {
            verdict.outcome = SignatureOutcome::FloorUnreadable;
            verdict.detail = FloorProblem(floor);
        }
    }
    if (verdict.outcome == SignatureOutcome::Accepted &&
        RaiseSerialFloor(floor, verdict.serial) < 0)
        verdict.outcome = SignatureOutcome::FloorNotKept;
    if (!verdict.keyId.empty())
        fact.found = verdict.keyId;
    fact.note = SignatureRecordText(verdict);
    fact.ok = verdict.outcome == SignatureOutcome::Accepted;
    facts.push_back(fact);
    if (verdict.termsRead)
        facts.push_back(TermsFact(fact, verdict, floor));
    if (!fact.ok) {
        ENGINE_LOG(logger, "server document not used: {}", SignatureLogText(verdict));
        return -1;
    }
    ENGINE_LOG(logger, "server document {}", SignatureLogText(verdict));
    trust.verified = true;
    trust.state = kDocumentSigned;
    return 1;
}
