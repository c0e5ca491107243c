#include "engine/trust/document_signature.h"

#include "engine/trust/serial_store.h"
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
    verdict.termsRead = true;
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
        return "服务器配置已签名，签名验证通过";
    case SignatureOutcome::NoSignature:
        return "服务器上没有该配置的签名文件（.minisig），配置未使用";
    case SignatureOutcome::SignatureRefused:
        return "服务器没有提供该配置的签名文件（HTTP " + std::to_string(v.httpStatus) +
               "），配置未使用。请稍后重试，仍不行请联系服务方";
    case SignatureOutcome::SignatureUnreachable:
        return "未能从服务器取得该配置的签名文件，配置未使用：" +
               (v.fetchWords.empty() ? std::string("网络错误") : v.fetchWords);
    case SignatureOutcome::SignatureTooLarge:
        return "服务器提供的签名文件过大，不是有效的签名文件，配置未使用。请联系服务方";
    case SignatureOutcome::NoUsableKey:
        return "本程序配置的公钥无效，无法验证服务器配置，配置未使用";
    case SignatureOutcome::Malformed:
        return "服务器配置的签名文件格式错误，配置未使用";
    case SignatureOutcome::UnknownKey:
        return "服务器配置不是由本程序信任的密钥签名的，配置未使用。请联系服务方";
    case SignatureOutcome::Legacy:
        return "服务器配置的签名格式过旧，本程序不再接受，配置未使用。请联系服务方重新签名";
    case SignatureOutcome::BadSignature:
        return "服务器配置与签名不符（配置已被改动），配置未使用";
    case SignatureOutcome::BadComment:
        return "签名的可信注释与签名不符（已被改动），配置未使用";
    case SignatureOutcome::CommentInvalid:
        return "签名的可信注释格式错误，配置未使用";
    case SignatureOutcome::NoSerial:
        return "服务器配置的签名没有注明配置的序号，配置未使用。请联系服务方重新签名";
    case SignatureOutcome::NoExpiry:
        return "服务器配置的签名没有注明有效期，配置未使用。请联系服务方重新签名";
    case SignatureOutcome::ClockWrong:
        return "本机时钟有误：本机时间 " + UtcTimeText(v.now) + " 早于配置的签名时间 " +
               UtcTimeText(v.signedAt.value_or(0)) + " 一天以上，请校正时间后重新检测";
    case SignatureOutcome::Expired:
        return "服务器配置已过期，配置未使用。请联系服务方更新配置";
    case SignatureOutcome::Rollback:
        return "服务器提供的配置比本机已使用过的配置旧（旧配置被重新放到了服务器上），配置未使用。"
               "请联系服务方";
    case SignatureOutcome::Unavailable:
        return "无法验证服务器配置的签名，配置未使用";
    case SignatureOutcome::FloorUnreadable:
        return "本机记录的服务器配置序号无法读取（注册表值 " + SerialFloorPathText() +
               " 已损坏或无法访问），配置未使用。请管理员确认服务器上的配置无误后，在管理员命令"
               "提示符中运行 " +
               SerialFloorResetCommand() + " 将其重置，再重新检测";
    case SignatureOutcome::FloorNotKept:
        return "本机无法记录已使用的服务器配置序号（注册表值 " + SerialFloorPathText() +
               " 无法写入），配置未使用。请管理员检查该注册表项的权限后重新检测";
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
    case SignatureOutcome::SignatureRefused:
        return "the signature's URL answered HTTP " + std::to_string(v.httpStatus);
    case SignatureOutcome::SignatureUnreachable:
        return "the signature could not be fetched: " + v.detail;
    case SignatureOutcome::SignatureTooLarge:
        return "the answer at the signature's URL is too large for a signature file";
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
        return "rollback: serial " + std::to_string(v.serial) + " of key " + v.keyId +
               " is lower than " + std::to_string(v.acceptedSerial) +
               ", the highest serial accepted under any trusted key";
    case SignatureOutcome::Unavailable:
        return "the signature check could not run (libsodium did not initialise)";
    case SignatureOutcome::FloorUnreadable:
        return "the rollback floor cannot be read (" + v.detail +
               "); an administrator resets it with " + SerialFloorResetCommand();
    case SignatureOutcome::FloorNotKept:
        return "serial " + std::to_string(v.serial) + " of key " + v.keyId +
               " verified but could not be kept in " + SerialFloorPathText();
    }
    return std::string();
}
