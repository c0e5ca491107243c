#include "authenticode_verify.h"

#include "pe_authenticode.h"

#include <winshim/windows.h>

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <system_error>

namespace fs = std::filesystem;

namespace winshim {

namespace {

constexpr char kSpcIndirectData[] = "1.3.6.1.4.1.311.2.1.4";

template <typename T, void (*F)(T*)> struct Free {
    void operator()(T* p) const { F(p); }
};
using Pkcs7Ptr = std::unique_ptr<PKCS7, Free<PKCS7, PKCS7_free>>;
using X509Ptr = std::unique_ptr<X509, Free<X509, X509_free>>;
using CrlPtr = std::unique_ptr<X509_CRL, Free<X509_CRL, X509_CRL_free>>;
using StorePtr = std::unique_ptr<X509_STORE, Free<X509_STORE, X509_STORE_free>>;
using StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, Free<X509_STORE_CTX, X509_STORE_CTX_free>>;
using BioPtr = std::unique_ptr<BIO, Free<BIO, BIO_free_all>>;
using ObjectPtr = std::unique_ptr<ASN1_OBJECT, Free<ASN1_OBJECT, ASN1_OBJECT_free>>;

struct X509StackFree {
    void operator()(STACK_OF(X509) * s) const { sk_X509_pop_free(s, X509_free); }
};
using X509StackPtr = std::unique_ptr<STACK_OF(X509), X509StackFree>;
// A stack whose certificates belong to something else (PKCS7_get0_signers).
struct BorrowedStackFree {
    void operator()(STACK_OF(X509) * s) const { sk_X509_free(s); }
};
using BorrowedStackPtr = std::unique_ptr<STACK_OF(X509), BorrowedStackFree>;

// One DER element: its tag and its content octets.
struct Element {
    int tag = 0;
    const unsigned char* content = nullptr;
    long length = 0;
};

// Reads the element at `p` (within `remaining` bytes) and moves past it.
bool NextElement(const unsigned char*& p, long& remaining, Element& out) {
    const unsigned char* start = p;
    int xclass = 0;
    if (remaining <= 0 ||
        (ASN1_get_object(&p, &out.length, &out.tag, &xclass, remaining) & 0x80) != 0 ||
        out.length > remaining - (p - start))
        return false;
    out.content = p;
    p += out.length;
    remaining -= static_cast<long>(p - start);
    return true;
}

// SpcIndirectDataContent ::= SEQUENCE { data SpcAttributeTypeAndOptionalValue,
//   messageDigest DigestInfo ::= SEQUENCE { AlgorithmIdentifier, OCTET STRING } }.
// Gives the content octets of the outer SEQUENCE (what the signature covers), the digest's
// algorithm and value.
bool ReadIndirectData(const ASN1_STRING* sequence, Element& signedContent, int& digestNid,
                      std::vector<uint8_t>& digest) {
    const unsigned char* p = ASN1_STRING_get0_data(sequence);
    long remaining = ASN1_STRING_length(sequence);
    Element outer, data, digestInfo, algorithm, oid, value;
    if (!NextElement(p, remaining, outer) || outer.tag != V_ASN1_SEQUENCE)
        return false;
    signedContent = outer;
    p = outer.content;
    remaining = outer.length;
    if (!NextElement(p, remaining, data) || data.tag != V_ASN1_SEQUENCE ||
        !NextElement(p, remaining, digestInfo) || digestInfo.tag != V_ASN1_SEQUENCE)
        return false;
    p = digestInfo.content;
    remaining = digestInfo.length;
    if (!NextElement(p, remaining, algorithm) || algorithm.tag != V_ASN1_SEQUENCE ||
        !NextElement(p, remaining, value) || value.tag != V_ASN1_OCTET_STRING)
        return false;
    const unsigned char* q = algorithm.content;
    long left = algorithm.length;
    const unsigned char* oidStart = q;
    if (!NextElement(q, left, oid) || oid.tag != V_ASN1_OBJECT)
        return false;
    const unsigned char* der = oidStart;
    ObjectPtr object(d2i_ASN1_OBJECT(nullptr, &der, q - oidStart));
    if (!object)
        return false;
    digestNid = OBJ_obj2nid(object.get());
    digest.assign(value.content, value.content + value.length);
    return true;
}

std::vector<fs::path> PemFiles(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().extension() == ".pem" && it->is_regular_file(ec))
            files.push_back(it->path());
    std::sort(files.begin(), files.end());
    return files;
}

StorePtr LoadRoots() {
    StorePtr store(X509_STORE_new());
    if (!store)
        return store;
    for (const fs::path& file : PemFiles(fs::u8path(TrustDir()) / "roots")) {
        BioPtr in(BIO_new_file(file.c_str(), "r"));
        while (in) {
            X509Ptr cert(PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr));
            if (!cert)
                break;
            X509_STORE_add_cert(store.get(), cert.get());
        }
    }
    return store;
}

std::vector<CrlPtr> LoadCrls() {
    std::vector<CrlPtr> crls;
    for (const fs::path& file : PemFiles(fs::u8path(TrustDir()) / "crls")) {
        BioPtr in(BIO_new_file(file.c_str(), "r"));
        while (in) {
            CrlPtr crl(PEM_read_bio_X509_CRL(in.get(), nullptr, nullptr, nullptr));
            if (!crl)
                break;
            crls.push_back(std::move(crl));
        }
    }
    return crls;
}

long ChainError(int error) {
    switch (error) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        return CERT_E_UNTRUSTEDROOT;
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return CERT_E_EXPIRED;
    case X509_V_ERR_INVALID_PURPOSE:
        return CERT_E_WRONG_USAGE;
    default:
        return CERT_E_CHAINING;
    }
}

// Revocation of every certificate but the root: revoked, all known good, or some unknown.
long RevocationOf(STACK_OF(X509) * chain) {
    const std::vector<CrlPtr> crls = LoadCrls();
    bool unknown = false;
    const int count = sk_X509_num(chain);
    for (int i = 0; i + 1 < count; ++i) {
        X509* cert = sk_X509_value(chain, i);
        X509* issuer = sk_X509_value(chain, i + 1);
        EVP_PKEY* key = X509_get0_pubkey(issuer);
        bool known = false;
        for (const CrlPtr& crl : crls) {
            if (X509_NAME_cmp(X509_CRL_get_issuer(crl.get()), X509_get_subject_name(issuer)) != 0 ||
                !key || X509_CRL_verify(crl.get(), key) != 1)
                continue;
            const ASN1_TIME* next = X509_CRL_get0_nextUpdate(crl.get());
            if (next && X509_cmp_current_time(next) < 0)
                continue; // out of date: says nothing about today
            X509_REVOKED* entry = nullptr;
            if (X509_CRL_get0_by_cert(crl.get(), &entry, cert) == 1)
                return CERT_E_REVOKED;
            known = true;
        }
        unknown = unknown || !known;
    }
    return unknown ? CERT_E_REVOCATION_FAILURE : ERROR_SUCCESS;
}

std::vector<uint8_t> Der(X509* cert) {
    unsigned char* out = nullptr;
    const int length = i2d_X509(cert, &out);
    std::vector<uint8_t> der;
    if (length > 0)
        der.assign(out, out + length);
    OPENSSL_free(out);
    return der;
}

} // namespace

std::string TrustDir() {
    return MachineDir() + "/trust";
}

AuthenticodeResult VerifyAuthenticode(const ByteSource& image, bool revocation) {
    AuthenticodeResult result;
    PeSignatureLayout layout;
    switch (ReadSignatureLayout(image, layout)) {
    case PeLayoutResult::NotPe:
        result.code = TRUST_E_SUBJECT_FORM_UNKNOWN;
        return result;
    case PeLayoutResult::Malformed:
        result.code = TRUST_E_NOSIGNATURE;
        return result;
    case PeLayoutResult::Ok:
        break;
    }
    std::vector<uint8_t> der;
    result.code = TRUST_E_NOSIGNATURE;
    if (!ReadFirstPkcs7Certificate(image, layout, der))
        return result;
    const unsigned char* p = der.data();
    Pkcs7Ptr p7(d2i_PKCS7(nullptr, &p, static_cast<long>(der.size())));
    if (!p7 || !PKCS7_type_is_signed(p7.get()) || !p7->d.sign || !p7->d.sign->contents)
        return result;
    PKCS7* contents = p7->d.sign->contents;
    char oid[64] = {};
    if (!contents->type || OBJ_obj2txt(oid, sizeof oid, contents->type, 1) <= 0 ||
        std::string(oid) != kSpcIndirectData || !contents->d.other ||
        contents->d.other->type != V_ASN1_SEQUENCE)
        return result;
    Element signedContent;
    int digestNid = NID_undef;
    std::vector<uint8_t> named, actual;
    if (!ReadIndirectData(contents->d.other->value.sequence, signedContent, digestNid, named))
        return result;
    STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(p7.get());
    if (!signers || sk_PKCS7_SIGNER_INFO_num(signers) != 1)
        return result;

    // The signer's certificate, for the caller's name check whatever else is wrong.
    BorrowedStackPtr signerCerts(PKCS7_get0_signers(p7.get(), nullptr, 0));
    X509* signer = signerCerts && sk_X509_num(signerCerts.get()) == 1
                       ? sk_X509_value(signerCerts.get(), 0)
                       : nullptr;
    if (!signer)
        return result;
    result.chain.push_back(Der(signer));

    const EVP_MD* md = EVP_get_digestbynid(digestNid);
    if (!md || !AuthenticodeDigest(image, layout, EVP_MD_get0_name(md), actual) ||
        actual != named) {
        result.code = TRUST_E_BAD_DIGEST;
        return result;
    }
    // PKCS7_verify copies a memory BIO into one of its own, and OpenSSL 3.0 loses that copy
    // when the signature's data cannot be set up; behind a buffer filter ours is read as it is.
    BioPtr memory(BIO_new_mem_buf(signedContent.content, static_cast<int>(signedContent.length)));
    BioPtr content(memory ? BIO_push(BIO_new(BIO_f_buffer()), memory.release()) : nullptr);
    if (!content || PKCS7_verify(p7.get(), nullptr, nullptr, content.get(), nullptr,
                                 PKCS7_NOVERIFY | PKCS7_BINARY) != 1) {
        result.code = NTE_BAD_SIGNATURE;
        return result;
    }

    StorePtr roots = LoadRoots();
    StoreCtxPtr ctx(X509_STORE_CTX_new());
    if (!roots || !ctx ||
        X509_STORE_CTX_init(ctx.get(), roots.get(), signer, p7->d.sign->cert) != 1) {
        result.code = TRUST_E_FAIL;
        return result;
    }
    const bool chained = X509_verify_cert(ctx.get()) == 1;
    X509StackPtr chain(X509_STORE_CTX_get1_chain(ctx.get()));
    if (chain) {
        result.chain.clear();
        for (int i = 0; i < sk_X509_num(chain.get()); ++i)
            result.chain.push_back(Der(sk_X509_value(chain.get(), i)));
    }
    if (!chained) {
        result.code = ChainError(X509_STORE_CTX_get_error(ctx.get()));
        return result;
    }
    if ((X509_get_extension_flags(signer) & EXFLAG_XKUSAGE) &&
        !(X509_get_extended_key_usage(signer) & XKU_CODE_SIGN)) {
        result.code = CERT_E_WRONG_USAGE;
        return result;
    }
    result.code = revocation && chain ? RevocationOf(chain.get()) : ERROR_SUCCESS;
    return result;
}

} // namespace winshim
