// add-test-root CERT-FILE: adds the certificate (PEM or DER) to the current user's ROOT
// store. Exit status 0 when it is there afterwards.

#include <windows.h>

#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fwprintf(stderr, L"usage: add-test-root CERT-FILE\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::string file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!in.good() && !in.eof()) {
        std::fwprintf(stderr, L"add-test-root: cannot read %ls\n", argv[1]);
        return 1;
    }
    std::vector<BYTE> der(file.begin(), file.end());
    if (file.find("-----BEGIN") != std::string::npos) {
        DWORD size = 0;
        if (!CryptStringToBinaryA(file.c_str(), static_cast<DWORD>(file.size()),
                                  CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
            std::fwprintf(stderr, L"add-test-root: %ls is not a PEM certificate\n", argv[1]);
            return 1;
        }
        der.assign(size, 0);
        CryptStringToBinaryA(file.c_str(), static_cast<DWORD>(file.size()),
                             CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr);
        der.resize(size);
    }
    HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"ROOT");
    if (!store) {
        std::fwprintf(stderr, L"add-test-root: the ROOT store cannot be opened (%lu)\n",
                      GetLastError());
        return 1;
    }
    PCCERT_CONTEXT added = nullptr;
    const BOOL ok = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                                     static_cast<DWORD>(der.size()),
                                                     CERT_STORE_ADD_REPLACE_EXISTING, &added);
    if (!ok) {
        std::fwprintf(stderr, L"add-test-root: the certificate was not added (0x%08lx)\n",
                      GetLastError());
        CertCloseStore(store, 0);
        return 1;
    }
    wchar_t subject[256] = L"";
    CertGetNameStringW(added, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, subject, 256);
    std::wprintf(L"add-test-root: %ls is a trusted root of the current user\n", subject);
    CertFreeCertificateContext(added);
    CertCloseStore(store, 0);
    return 0;
}
