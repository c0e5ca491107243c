#include "engine/trust/document_signature.h"

#include "engine/trust/trusted_comment.h"

namespace {

SignatureVerdict Verdict(SignatureOutcome outcome, SignatureVerdict verdict) {
    verdict.outcome = outcome;
    return verdict;
}

} // namespace

SignatureVerdict VerifyDocumentSignature(const std::string& document,
                                         const std::string& signatureFile,
                                         const std::vector<MinisignPublicKey>& keys, long long now,
                                         const AcceptedSerialLookup& accepted) {
    SignatureVerdict verdict;
    verdict.now = now;
    if (keys.empty())
        return Verdict(SignatureOutcome::NoUsableKey, verdict);
    MinisignSignature signature;
    if (!ParseMinisignSignature(signatureFile, signature, verdict.detail))
        return Verdict(SignatureOutcome::Malformed, verdict);
    verdict.keyId = KeyIdText(signature.keyId);
    const MinisignPublicKey* key = nullptr;
    for (const MinisignPublicKey& candidate : keys)
        if (candidate.keyId == signature.keyId)
            key = &candidate;
    if (!key)
        return Verdict(SignatureOutcome::UnknownKey, verdict);
    switch (CheckMinisign(*key, signature, document)) {
    case MinisignCheck::Good:
        break;
    case MinisignCheck::Legacy:
        return Verdict(SignatureOutcome::Legacy, verdict);
    case MinisignCheck::BadSignature:
        return Verdict(SignatureOutcome::BadSignature, verdict);
    case MinisignCheck::BadComment:
        return Verdict(SignatureOutcome::BadComment, verdict);
    case MinisignCheck::Unavailable:
        return Verdict(SignatureOutcome::Unavailable, verdict);
    }
    // Only what the global signature covers is read from here on.
    TrustedComment comment;
    if (!ParseTrustedComment(signature.trustedComment, comment, verdict.detail))
        return Verdict(SignatureOutcome::CommentInvalid, verdict);
    if (!comment.serial)
        return Verdict(SignatureOutcome::NoSerial, verdict);
    if (!comment.expires)
        return Verdict(SignatureOutcome::NoExpiry, verdict);
    verdict.serial = *comment.serial;
    verdict.expires = *comment.expires;
    verdict.signedAt = comment.signedAt;
    // A clock far behind would also pass any expiry, so it is refused rather than trusted.
    if (comment.signedAt && now < *comment.signedAt - kClockSlackSeconds)
        return Verdict(SignatureOutcome::ClockWrong, verdict);
    if (now > verdict.expires)
        return Verdict(SignatureOutcome::Expired, verdict);
    if (accepted && accepted(verdict.keyId, verdict.acceptedSerial) &&
        verdict.serial < verdict.acceptedSerial)
        return Verdict(SignatureOutcome::Rollback, verdict);
    return Verdict(SignatureOutcome::Accepted, verdict);
}

std::string SignatureRecordText(const SignatureVerdict& v) {
    switch (v.outcome) {
    case SignatureOutcome::Accepted:
        return "服务器配置已签名（密钥 " + v.keyId + "，序号 " + std::to_string(v.serial) +
               "，有效期至 " + UtcTimeText(v.expires) + "）";
    case SignatureOutcome::NoSignature:
        return "服务器上没有该配置的签名文件（.minisig），配置未使用";
    case SignatureOutcome::NoUsableKey:
        return "本程序配置的公钥无效，无法验证服务器配置，配置未使用";
    case SignatureOutcome::Malformed:
        return "服务器配置的签名文件格式错误，配置未使用";
    case SignatureOutcome::UnknownKey:
        return "服务器配置由未知密钥 " + v.keyId + " 签名，配置未使用";
    case SignatureOutcome::Legacy:
        return "服务器配置的签名为旧格式，请运营方用 minisign 0.10 或更新版本重新签名，配置未使用";
    case SignatureOutcome::BadSignature:
        return "服务器配置与签名不符（配置已被改动），配置未使用";
    case SignatureOutcome::BadComment:
        return "签名的可信注释与签名不符（已被改动），配置未使用";
    case SignatureOutcome::CommentInvalid:
        return "签名的可信注释格式错误，配置未使用";
    case SignatureOutcome::NoSerial:
        return "签名的可信注释缺少 serial，配置未使用";
    case SignatureOutcome::NoExpiry:
        return "签名的可信注释缺少 expires，配置未使用";
    case SignatureOutcome::ClockWrong:
        return "本机时钟有误：本机时间 " + UtcTimeText(v.now) + " 早于配置的签名时间 " +
               UtcTimeText(v.signedAt.value_or(0)) + " 一天以上，请校正时间后重新检测";
    case SignatureOutcome::Expired:
        return "服务器配置已于 " + UtcTimeText(v.expires) + " 过期，配置未使用";
    case SignatureOutcome::Rollback:
        return "服务器配置的序号 " + std::to_string(v.serial) + " 低于本机已接受的序号 " +
               std::to_string(v.acceptedSerial) + "（旧配置），配置未使用";
    case SignatureOutcome::Unavailable:
        return "无法验证服务器配置的签名，配置未使用";
    }
    return std::string();
}

std::string SignatureLogText(const SignatureVerdict& v) {
    switch (v.outcome) {
    case SignatureOutcome::Accepted:
        return "signed by key " + v.keyId + ", serial " + std::to_string(v.serial) + ", expires " +
               UtcTimeText(v.expires);
    case SignatureOutcome::NoSignature:
        return "no signature at the document's URL with .minisig appended";
    case SignatureOutcome::NoUsableKey:
        return "none of the configured public keys is a minisign public key";
    case SignatureOutcome::Malformed:
        return "the signature file is malformed: " + v.detail;
    case SignatureOutcome::UnknownKey:
        return "signed by the unknown key " + v.keyId;
    case SignatureOutcome::Legacy:
        return "a legacy minisign signature (Ed); sign with minisign 0.10 or later";
    case SignatureOutcome::BadSignature:
        return "bad signature: the document is not the one key " + v.keyId + " signed";
    case SignatureOutcome::BadComment:
        return "bad signature: the trusted comment is not the one key " + v.keyId + " signed";
    case SignatureOutcome::CommentInvalid:
        return "the trusted comment is malformed: " + v.detail;
    case SignatureOutcome::NoSerial:
        return "the trusted comment has no serial=N";
    case SignatureOutcome::NoExpiry:
        return "the trusted comment has no expires=YYYY-MM-DDTHH:MM:SSZ";
    case SignatureOutcome::ClockWrong:
        return "this computer's clock (" + UtcTimeText(v.now) +
               ") is more than a day before the document was signed (" +
               UtcTimeText(v.signedAt.value_or(0)) + ")";
    case SignatureOutcome::Expired:
        return "expired on " + UtcTimeText(v.expires);
    case SignatureOutcome::Rollback:
        return "rollback: serial " + std::to_string(v.serial) + " is lower than " +
               std::to_string(v.acceptedSerial) + ", already accepted from key " + v.keyId;
    case SignatureOutcome::Unavailable:
        return "the signature check could not run (libsodium did not initialise)";
    }
    return std::string();
}
