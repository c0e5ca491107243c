// WinVerifyTrust and the helpers that read its result: the state a verification leaves
// behind is a handle of this stand-in, closed with WTD_STATEACTION_CLOSE.
#include "authenticode_verify.h"
#include "file_object.h"
#include "machine_ansi.h"
#include "machine_handles.h"
#include "pe_source.h"

#include <winshim/windows.h>

#include <boost/locale/encoding_utf.hpp>
#include <openssl/x509.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <memory>
#include <vector>

namespace winshim {

namespace {

const GUID kGenericVerifyV2 = WINTRUST_ACTION_GENERIC_VERIFY_V2;

struct TrustState : HandleObject {
    std::vector<std::vector<uint8_t>> der;
    std::vector<CERT_CONTEXT> contexts;
    std::vector<CRYPT_PROVIDER_CERT> certs;
    CRYPT_PROVIDER_SGNR signer{};
    CRYPT_PROVIDER_DATA data{};

    explicit TrustState(std::vector<std::vector<uint8_t>> chain) : der(std::move(chain)) {
        contexts.resize(der.size());
        certs.resize(der.size());
        for (size_t i = 0; i < der.size(); ++i) {
            contexts[i] = {X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der[i].data(),
                           static_cast<DWORD>(der[i].size()), nullptr, nullptr};
            certs[i] = {sizeof(CRYPT_PROVIDER_CERT), &contexts[i]};
        }
        signer.cbStruct = sizeof signer;
        signer.csCertChain = static_cast<DWORD>(certs.size());
        signer.pasCertChain = certs.empty() ? nullptr : certs.data();
        data.cbStruct = sizeof data;
        data.csSigners = der.empty() ? 0 : 1;
        data.pasSigners = der.empty() ? nullptr : &signer;
    }
};

bool SameGuid(const GUID& a, const GUID& b) {
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
           std::memcmp(a.Data4, b.Data4, sizeof a.Data4) == 0;
}

// The file to check: the one behind the handle when it is a file handle of ours, else the
// path.
unsigned long OpenSubject(const WINTRUST_FILE_INFO& file, FileSource& source) {
    if (auto held = LookupHandle<FileObject>(file.hFile))
        return source.OpenDescriptor(held->fd());
    if (!file.pcwszFilePath)
        return ERROR_INVALID_PARAMETER;
    const std::string utf8 = boost::locale::conv::utf_to_utf<char>(file.pcwszFilePath);
    return source.Open(MapWindowsPath(utf8));
}

} // namespace

} // namespace winshim

LONG WINAPI WinVerifyTrust(HWND /*hwnd*/, GUID* pgActionID, LPVOID pWVTData) {
    using namespace winshim;
    auto* data = static_cast<WINTRUST_DATA*>(pWVTData);
    if (!pgActionID || !SameGuid(*pgActionID, kGenericVerifyV2))
        return TRUST_E_PROVIDER_UNKNOWN;
    if (!data || data->cbStruct < sizeof(WINTRUST_DATA))
        return E_INVALIDARG;
    if (data->dwStateAction == WTD_STATEACTION_CLOSE) {
        RemoveHandle<TrustState>(data->hWVTStateData);
        data->hWVTStateData = nullptr;
        return ERROR_SUCCESS;
    }
    if (data->dwUnionChoice != WTD_CHOICE_FILE || !data->pFile)
        return E_INVALIDARG;
    FileSource source;
    if (const unsigned long error = OpenSubject(*data->pFile, source)) {
        SetLastError(static_cast<DWORD>(error));
        return TRUST_E_NOSIGNATURE;
    }
    AuthenticodeResult result;
    try {
        result = VerifyAuthenticode(source, data->fdwRevocationChecks == WTD_REVOKE_WHOLECHAIN);
        if (data->dwStateAction == WTD_STATEACTION_VERIFY)
            data->hWVTStateData = AddHandle(std::make_shared<TrustState>(std::move(result.chain)));
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return TRUST_E_FAIL;
    }
    return static_cast<LONG>(result.code);
}

CRYPT_PROVIDER_DATA* WINAPI WTHelperProvDataFromStateData(HANDLE hStateData) {
    auto state = winshim::LookupHandle<winshim::TrustState>(hStateData);
    return state ? &state->data : nullptr;
}

CRYPT_PROVIDER_SGNR* WINAPI WTHelperGetProvSignerFromChain(CRYPT_PROVIDER_DATA* pProvData,
                                                           DWORD idxSigner, BOOL fCounterSigner,
                                                           DWORD /*idxCounterSigner*/) {
    if (!pProvData || fCounterSigner || idxSigner >= pProvData->csSigners)
        return nullptr;
    return &pProvData->pasSigners[idxSigner];
}

DWORD WINAPI CertGetNameStringW(PCCERT_CONTEXT pCertContext, DWORD dwType, DWORD /*dwFlags*/,
                                void* /*pvTypePara*/, LPWSTR pszNameString, DWORD cchNameString) {
    std::wstring name;
    if (pCertContext && pCertContext->pbCertEncoded && dwType == CERT_NAME_SIMPLE_DISPLAY_TYPE) {
        const unsigned char* p = pCertContext->pbCertEncoded;
        X509* cert = d2i_X509(nullptr, &p, static_cast<long>(pCertContext->cbCertEncoded));
        const X509_NAME* subject = cert ? X509_get_subject_name(cert) : nullptr;
        // The first of these attributes that the subject has, as Windows picks it.
        for (int nid : {NID_commonName, NID_organizationalUnitName, NID_organizationName,
                        NID_pkcs9_emailAddress}) {
            const int at = subject ? X509_NAME_get_index_by_NID(subject, nid, -1) : -1;
            if (at < 0)
                continue;
            unsigned char* utf8 = nullptr;
            const int length = ASN1_STRING_to_UTF8(
                &utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, at)));
            if (length >= 0)
                name = boost::locale::conv::utf_to_utf<wchar_t>(
                    std::string(reinterpret_cast<char*>(utf8), static_cast<size_t>(length)));
            OPENSSL_free(utf8);
            break;
        }
        X509_free(cert);
    }
    if (!pszNameString || cchNameString == 0)
        return static_cast<DWORD>(name.size() + 1);
    const size_t n = std::min<size_t>(name.size(), cchNameString - 1);
    std::wmemcpy(pszNameString, name.data(), n);
    pszNameString[n] = L'\0';
    return static_cast<DWORD>(n + 1);
}
