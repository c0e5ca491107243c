// The Authenticode check of a held installer. The signed samples are made outside the
// suite by make-signed-samples.sh (openssl and osslsigncode), named by
// QUELDA_SIGNED_SAMPLES; over the stand-in the machine trusts their test root. Wine 8
// accepts any chain of a SHA-256-signed file, so untrusted chains and revocation are
// checked over the stand-in only.
#include "probe_test_env.h"
#include "probes/held_file.h"
#include "probes/installer_signature.h"
#include "probes/textconv.h"
#include "temp_machine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace fs = std::filesystem;

namespace {

const char kPublisher[] = "Quelda Test Publisher";

fs::path Samples() {
    const char* dir = std::getenv("QUELDA_SIGNED_SAMPLES");
    if (!dir || !*dir)
        return fs::path();
    std::string path = dir;
#ifdef _WIN32
    if (path[0] == '/')
        path = "Z:" + path; // Wine's drive for the Unix root
#endif
    return fs::u8path(path);
}

class InstallerSignature : public ::testing::Test {
  protected:
    void SetUp() override {
        samples_ = Samples();
        ASSERT_FALSE(samples_.empty()) << "QUELDA_SIGNED_SAMPLES names no folder";
        ASSERT_TRUE(fs::exists(samples_ / "good.exe")) << samples_.u8string();
    }

    // Over the stand-in: the machine trusts the test root (and knows its CRLs).
    void TrustTestRoot(bool withCrls) {
        std::error_code ec;
        fs::create_directories(machine_.dir() / "trust", ec);
        fs::copy(samples_ / "roots", machine_.dir() / "trust" / "roots",
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
        ASSERT_FALSE(ec) << ec.message();
        if (withCrls)
            fs::copy(samples_ / "crls", machine_.dir() / "trust" / "crls",
                     fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
        ASSERT_FALSE(ec) << ec.message();
    }

    SignerCheck Check(const fs::path& file, const std::string& signer = kPublisher) {
        HeldFile held;
        EXPECT_TRUE(held.Open(Utf8ToGbk(file.u8string()))) << file.u8string();
        return CheckInstallerSigner(held, signer);
    }

    TempMachine machine_;
    fs::path samples_;
};

struct SampleCase {
    const char* file;
    SignerVerdict verdict;
    const char* signer; // the name the signature carries, "" for none
};

// What Windows and the stand-in agree on (Wine too).
TEST_F(InstallerSignature, OnlyAnUnchangedFileOfTheNamedSignerIsAccepted) {
#ifndef _WIN32
    TrustTestRoot(true);
#endif
    const SampleCase cases[] = {
        {"good.exe", SignerVerdict::Accepted, kPublisher},
        {"other-signer.exe", SignerVerdict::WrongSigner, "Someone Else Ltd"},
        {"tampered.exe", SignerVerdict::BadSignature, nullptr},
        {"unsigned.exe", SignerVerdict::Unsigned, ""},
        // A name cut at its NUL would be the expected one.
        {"nul-signer.exe", SignerVerdict::WrongSigner, "Quelda Test Publisher\\0x"},
    };
    for (const SampleCase& c : cases) {
        const SignerCheck check = Check(samples_ / c.file);
        EXPECT_EQ(check.verdict, c.verdict)
            << c.file << " trust code " << std::hex << check.trustCode;
        if (c.signer) {
            EXPECT_EQ(check.signer, c.signer) << c.file;
        }
    }
    // The name is compared exactly.
    EXPECT_EQ(Check(samples_ / "good.exe", "Quelda Test Publisher Ltd").verdict,
              SignerVerdict::WrongSigner);
    EXPECT_EQ(Check(samples_ / "good.exe", "quelda test publisher").verdict,
              SignerVerdict::WrongSigner);
}

TEST_F(InstallerSignature, AFileThatIsNotHeldIsNotChecked) {
    HeldFile none;
    EXPECT_EQ(CheckInstallerSigner(none, kPublisher).verdict, SignerVerdict::NotChecked);
}

#ifndef _WIN32
TEST_F(InstallerSignature, TheChainMustEndAtARootThisMachineTrusts) {
    // No root at all: even the good file is refused.
    EXPECT_EQ(Check(samples_ / "good.exe").verdict, SignerVerdict::UntrustedChain);
    TrustTestRoot(true);
    const SignerCheck foreign = Check(samples_ / "unknown-root.exe");
    EXPECT_EQ(foreign.verdict, SignerVerdict::UntrustedChain);
    EXPECT_EQ(foreign.signer, kPublisher) << "same name, other root";
    const SignerCheck revoked = Check(samples_ / "revoked.exe");
    EXPECT_EQ(revoked.verdict, SignerVerdict::UntrustedChain);
    EXPECT_EQ(revoked.trustCode, static_cast<unsigned long>(static_cast<DWORD>(CERT_E_REVOKED)));
}

TEST_F(InstallerSignature, RevocationThatCannotBeCheckedIsReportedNotFatal) {
    TrustTestRoot(false);
    const SignerCheck check = Check(samples_ / "good.exe");
    EXPECT_EQ(check.verdict, SignerVerdict::Accepted);
    EXPECT_TRUE(check.revocationUnchecked);
    EXPECT_EQ(check.trustCode,
              static_cast<unsigned long>(static_cast<DWORD>(CERT_E_REVOCATION_FAILURE)));
    TrustTestRoot(true);
    EXPECT_FALSE(Check(samples_ / "good.exe").revocationUnchecked);
}

TEST_F(InstallerSignature, WhatIsCheckedIsTheHeldFileNotWhatThePathNamesLater) {
    TrustTestRoot(true);
    const fs::path file = machine_.dir() / "setup.exe";
    fs::copy_file(samples_ / "good.exe", file);
    HeldFile held;
    ASSERT_TRUE(held.Open(Utf8ToGbk(file.u8string())));
    // POSIX lets the name be replaced while the file is open (Windows refuses).
    fs::copy_file(samples_ / "unsigned.exe", machine_.dir() / "swap.exe");
    fs::rename(machine_.dir() / "swap.exe", file);
    EXPECT_EQ(CheckInstallerSigner(held, kPublisher).verdict, SignerVerdict::Accepted);
}

TEST_F(InstallerSignature, TruncatedAndMalformedSignaturesAreRefusedSafely) {
    TrustTestRoot(true);
    std::string good;
    {
        std::ifstream in(samples_ / "good.exe", std::ios::binary);
        good.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    ASSERT_GT(good.size(), 1024u);
    struct Cut {
        const char* name;
        std::string bytes;
    };
    const Cut cuts[] = {
        {"cut in the signature", good.substr(0, good.size() - 100)},
        {"data after the signature", good + std::string(16, 'x')},
        {"headers only", good.substr(0, 0x100)},
        {"not a PE", std::string("#!/bin/sh\nexit 0\n")},
    };
    for (const Cut& cut : cuts) {
        const fs::path file = machine_.dir() / "cut.exe";
        ASSERT_TRUE(probetest::WriteFileBytes(file, cut.bytes));
        const SignerCheck check = Check(file);
        EXPECT_NE(check.verdict, SignerVerdict::Accepted) << cut.name;
        EXPECT_NE(check.verdict, SignerVerdict::NotChecked) << cut.name;
    }
}
#endif

} // namespace
