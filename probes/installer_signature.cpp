#include "installer_signature.h"

#include "held_file.h"
#include "textconv.h"
#include "winapi.h"

#ifdef _WIN32
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>
#endif

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// The functions used, taken at run time from the system folder on Windows: the program
// imports no DLL that the loader would look for beside it (see app/ start-up).
struct TrustFunctions {
    decltype(&WinVerifyTrust) verify = nullptr;
    decltype(&WTHelperProvDataFromStateData) provData = nullptr;
    decltype(&WTHelperGetProvSignerFromChain) signer = nullptr;
    decltype(&CertGetNameStringW) name = nullptr;
};

#ifdef _WIN32
HMODULE SystemLibrary(const wchar_t* name) {
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return nullptr;
    return LoadLibraryW((std::wstring(folder) + L"\\" + name).c_str());
}

template <typename F> void Resolve(HMODULE module, const char* name, F& out) {
    out = module ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)))
                 : nullptr;
}

TrustFunctions LoadTrustFunctions() {
    // Loaded once and kept for the life of the program.
    static const TrustFunctions functions = [] {
        TrustFunctions f;
        const HMODULE wintrust = SystemLibrary(L"wintrust.dll");
        const HMODULE crypt32 = SystemLibrary(L"crypt32.dll");
        Resolve(wintrust, "WinVerifyTrust", f.verify);
        Resolve(wintrust, "WTHelperProvDataFromStateData", f.provData);
        Resolve(wintrust, "WTHelperGetProvSignerFromChain", f.signer);
        Resolve(crypt32, "CertGetNameStringW", f.name);
        return f;
    }();
    return functions;
}
#else
TrustFunctions LoadTrustFunctions() {
    return {&WinVerifyTrust, &WTHelperProvDataFromStateData, &WTHelperGetProvSignerFromChain,
            &CertGetNameStringW};
}
#endif

bool RevocationUnknown(LONG code) {
    return code == CERT_E_REVOCATION_FAILURE || code == CRYPT_E_REVOCATION_OFFLINE ||
           code == CRYPT_E_NO_REVOCATION_CHECK;
}

SignerVerdict VerdictOf(LONG code) {
    switch (code) {
    case ERROR_SUCCESS:
        return SignerVerdict::Accepted;
    case TRUST_E_NOSIGNATURE:
    case TRUST_E_SUBJECT_FORM_UNKNOWN:
        return SignerVerdict::Unsigned;
    case TRUST_E_BAD_DIGEST:
    case NTE_BAD_SIGNATURE:
        return SignerVerdict::BadSignature;
    case TRUST_E_PROVIDER_UNKNOWN:
    case E_INVALIDARG:
        return SignerVerdict::NotChecked;
    default:
        // Every other answer is about the certificate: not trusted here.
        return SignerVerdict::UntrustedChain;
    }
}

std::string SignerName(const TrustFunctions& api, HANDLE state, bool& nulInside) {
    CRYPT_PROVIDER_DATA* data = state ? api.provData(state) : nullptr;
    CRYPT_PROVIDER_SGNR* signer = data ? api.signer(data, 0, FALSE, 0) : nullptr;
    if (!signer || signer->csCertChain == 0 || !signer->pasCertChain ||
        !signer->pasCertChain[0].pCert)
        return std::string();
    const PCCERT_CONTEXT cert = signer->pasCertChain[0].pCert;
    const DWORD length = api.name(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
    if (length <= 1)
        return std::string();
    std::vector<wchar_t> name(length);
    const DWORD written =
        api.name(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name.data(), length);
    // The whole name: one with a NUL inside is kept whole (its NUL as "\0"), so that it
    // can never equal a name that is only its first part.
    std::wstring whole(name.data(), written > 0 ? std::min(written, length) - 1 : 0);
    std::string text;
    for (std::size_t at = 0;;) {
        const std::size_t nul = whole.find(L'\0', at);
        text += std::filesystem::path(whole.substr(at, nul - at)).u8string();
        if (nul == std::wstring::npos)
            break;
        text += "\\0";
        at = nul + 1;
        nulInside = true;
    }
    return text;
}

} // namespace

SignerCheck CheckInstallerSigner(const HeldFile& file, const std::string& expectedSigner) {
    SignerCheck check;
    const TrustFunctions api = LoadTrustFunctions();
    if (!file.IsOpen() || !api.verify || !api.provData || !api.signer || !api.name)
        return check;

    const std::wstring path = std::filesystem::u8path(GbkToUtf8(file.Path())).wstring();
    WINTRUST_FILE_INFO subject{};
    subject.cbStruct = sizeof subject;
    subject.pcwszFilePath = path.c_str();
    subject.hFile = static_cast<HANDLE>(file.NativeHandle());
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &subject;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = WTD_REVOCATION_CHECK_CHAIN;
    const LONG code = api.verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    check.trustCode = static_cast<unsigned long>(static_cast<DWORD>(code));
    bool nulInside = false;
    check.signer = SignerName(api, data.hWVTStateData, nulInside);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    api.verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);

    check.revocationUnchecked = RevocationUnknown(code);
    check.verdict = check.revocationUnchecked ? SignerVerdict::Accepted : VerdictOf(code);
    if (check.verdict == SignerVerdict::Accepted && (nulInside || check.signer != expectedSigner))
        check.verdict = SignerVerdict::WrongSigner;
    return check;
}
