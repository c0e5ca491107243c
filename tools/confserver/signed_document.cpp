#include "signed_document.h"

#include "sha256_fill.h"

#include <fstream>
#include <iterator>

bool ReadFileBytes(const std::string& file, std::string& bytes, std::string& error) {
    std::ifstream in(file, std::ios::binary);
    if (!in.is_open()) {
        error = file + ": cannot be read";
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        error = file + ": cannot be read";
        return false;
    }
    return true;
}

bool LoadDocKeys(const std::vector<std::string>& files, std::vector<MinisignPublicKey>& keys,
                 std::string& error) {
    keys.clear();
    for (const std::string& file : files) {
        std::string text, why;
        if (!ReadFileBytes(file, text, error))
            return false;
        MinisignPublicKey key;
        if (!ParseMinisignPublicKey(text, key, why)) {
            error = file + ": " + why;
            return false;
        }
        keys.push_back(key);
    }
    return true;
}

bool ParseServedDocument(const std::string& gbk, Document& doc, std::string& error) {
    try {
        doc = ParseDocumentText(DecodeGbk(gbk));
        return true;
    } catch (const std::exception& e) {
        error = std::string("not a JSON document (read as GBK, as served): ") + e.what();
        return false;
    }
}

std::vector<std::string> SignedDocumentProblems(const std::string& documentFile,
                                                const std::string& bytes, Document doc,
                                                const std::vector<MinisignPublicKey>& keys,
                                                long long now, SignatureVerdict& verdict) {
    std::vector<std::string> problems;
    const std::string signatureFile = documentFile + ".minisig";
    std::string signature, error;
    verdict = SignatureVerdict();
    if (!ReadFileBytes(signatureFile, signature, error)) {
        verdict.outcome = SignatureOutcome::NoSignature;
        problems.push_back(signatureFile + ": missing; sign the document with minisign -S -m " +
                           documentFile + " -t \"serial=N expires=YYYY-MM-DDTHH:MM:SSZ\"");
    } else {
        verdict = VerifyDocumentSignature(bytes, signature, keys, now);
        if (verdict.outcome != SignatureOutcome::Accepted)
            problems.push_back(signatureFile + ": " + SignatureLogText(verdict));
    }
    for (const UrlSlot& slot : InstallerUrls(doc)) {
        const auto sha256 = slot.holder->find("sha256");
        if (sha256 == slot.holder->end() || !sha256->is_string() ||
            sha256->get<std::string>().empty())
            problems.push_back(slot.path +
                               ": no sha256; the tool refuses an installer of a signed "
                               "document without one (--fill-sha256, export, sign again)");
    }
    return problems;
}
