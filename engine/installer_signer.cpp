#include "engine/installer_signer.h"

#include "engine/engine_log.h"
#include "engine/install_paths.h"
#include "engine/region.h"

#include "probes/held_file.h"
#include "probes/installer_signature.h"

#include <cstdio>
#include <system_error>

namespace {

std::string Hex(unsigned long code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", code);
    return text;
}

const char* VerdictName(SignerVerdict verdict) {
    switch (verdict) {
    case SignerVerdict::Accepted:
        return "accepted";
    case SignerVerdict::Unsigned:
        return "unsigned";
    case SignerVerdict::BadSignature:
        return "bad signature";
    case SignerVerdict::UntrustedChain:
        return "untrusted chain";
    case SignerVerdict::WrongSigner:
        return "wrong signer";
    case SignerVerdict::NotChecked:
        return "not checked";
    }
    return "?";
}

std::string RefusalText(const SignerCheck& check, const std::string& expected) {
    switch (check.verdict) {
    case SignerVerdict::Unsigned:
        return "安装程序未启动：没有数字签名";
    case SignerVerdict::BadSignature:
        return "安装程序未启动：数字签名无效（文件在签名后被改动）";
    case SignerVerdict::UntrustedChain:
        return "安装程序未启动：签名证书不受信任（" + Hex(check.trustCode) + "）";
    case SignerVerdict::WrongSigner:
        return "安装程序未启动：签名者是“" + check.signer + "”，应为“" + expected + "”";
    case SignerVerdict::NotChecked:
    case SignerVerdict::Accepted:
        break;
    }
    return "安装程序未启动：无法检查数字签名";
}

} // namespace

std::optional<std::string> ExpectedSigner(const nlohmann::json& entry) {
    const nlohmann::json& signer = Member(entry, "signer");
    if (signer.is_null())
        return std::nullopt;
    return signer.get<std::string>();
}

bool SignerAllowsStart(HeldFile& installer, const std::filesystem::path& target,
                       const std::optional<std::string>& signer, std::string& outcome,
                       const std::shared_ptr<spdlog::logger>& logger) {
    if (!signer)
        return true;
    const SignerCheck check = CheckInstallerSigner(installer, *signer);
    ENGINE_LOG(logger, "installer signature {}: {} (signer '{}', expected '{}', trust {})",
               LogPathText(target), VerdictName(check.verdict), check.signer, *signer,
               Hex(check.trustCode));
    if (check.revocationUnchecked)
        ENGINE_LOG(logger, "installer signature {}: revocation could not be checked ({})",
                   LogPathText(target), Hex(check.trustCode));
    if (check.verdict == SignerVerdict::Accepted)
        return true;
    outcome = RefusalText(check, *signer);
    installer.Close();
    std::error_code ec;
    std::filesystem::remove(target, ec);
    return false;
}
