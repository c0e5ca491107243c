#include "probe_test_env.h"
#include "probes/ie_settings.h"
#include "probes/registry.h"
#include "temp_machine.h"

#include <gtest/gtest.h>

#include <functional>

using namespace probetest;

namespace {
const char kInetKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
const char kPolicyKey[] = "SOFTWARE\\Policies\\Microsoft\\Internet Explorer\\Main";

std::string TrustKey() {
    return std::string(kInetKey) + "\\ZoneMap\\Domains\\" + kPortalDomain;
}

// These tests rewrite the user's IE settings, so on Windows they run only in Wine's
// throw-away prefix; the stand-in gives every test a fresh machine.
class IESettings : public ::testing::Test {
  protected:
    void SetUp() override {
#ifdef _WIN32
        if (!RunningUnderWine())
            GTEST_SKIP() << "would change this computer's IE settings";
#endif
        DeleteRegistryTree(HKEY_CURRENT_USER, kInetKey);
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, kPolicyKey);
    }
    void TearDown() override {
        DeleteRegistryTree(HKEY_CURRENT_USER, kInetKey);
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, kPolicyKey);
    }
    TempMachine machine;
};

// How a value is prepared before a probe or fix runs.
using Prepare = std::function<void(HKEY, const char*, const char*)>;
const Prepare kNoKey = [](HKEY, const char*, const char*) {};
const Prepare kKeyOnly = [](HKEY root, const char* key, const char*) { MakeKey(root, key); };
Prepare Dword(DWORD v) {
    return [v](HKEY root, const char* key, const char* name) { PutDword(root, key, name, v); };
}
Prepare Text(const char* t) {
    return [t](HKEY root, const char* key, const char* name) { PutString(root, key, name, t); };
}
Prepare Binary(std::vector<BYTE> bytes) {
    return [bytes](HKEY root, const char* key, const char* name) {
        PutValue(root, key, name, REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size()));
    };
}

struct ProbeCase {
    const char* what;
    Prepare prepare;
    int result;
};

void RunProbeCases(const char* probeName, int (*probe)(), HKEY root, const char* key,
                   const char* name, const std::vector<ProbeCase>& cases) {
    for (const auto& c : cases) {
        TempMachine fresh; // a clean registry per case
        DeleteRegistryTree(root, key);
        c.prepare(root, key, name);
        EXPECT_EQ(probe(), c.result) << probeName << ": " << c.what;
    }
}

TEST_F(IESettings, SaveVersionProbe) {
    RunProbeCases("CheckIESaveVerCfg", CheckIESaveVerCfg, HKEY_CURRENT_USER, kInetKey, "SyncMode5",
                  {
                      {"no Internet Settings key", kNoKey, -3},
                      {"no value", kKeyOnly, -2},
                      {"number 3", Dword(3), 1},
                      {"number 4", Dword(4), -2},
                      {"text 3", Text("3"), 1},
                      {"text 4", Text("4"), -2},
                      {"binary", Binary({3}), -1},
                  });
}

TEST_F(IESettings, SecureProtocolsProbeNamesTheFirstMissingProtocol) {
    RunProbeCases("CheckIESslCfg", CheckIESslCfg, HKEY_CURRENT_USER, kInetKey, "SecureProtocols",
                  {
                      {"exactly the five protocols", Dword(0x2AA0), 1},
                      {"further bits as well", Dword(0x2AA8), 1},
                      {"every bit", Dword(0xFFFFFFFF), 1},
                      {"TLS only, no SSL 2.0", Dword(0x0A80), -1},
                      {"no SSL 3.0", Dword(0x2A20), -2},
                      {"no TLS 1.0", Dword(0x28A0), -3},
                      {"no TLS 1.1", Dword(0x22A0), -4},
                      {"no TLS 1.2", Dword(0x0AA0), -5},
                      {"none", Dword(0), -1},
                      {"text 10912", Text("10912"), 1},
                      {"no value", kKeyOnly, -2},
                      {"no key", kNoKey, -3},
                  });
}

TEST_F(IESettings, WebSocketLimitProbe) {
    RunProbeCases("CheckIEMaxConCfg", CheckIEMaxConCfg, HKEY_LOCAL_MACHINE, kPolicyKey,
                  "MaximumWebSocketConnections",
                  {
                      {"100", Dword(100), 1},
                      {"128", Dword(128), -2},
                      {"text 100", Text("100"), 1},
                      {"no value", kKeyOnly, -2},
                      {"no key", kNoKey, -3},
                  });
}

TEST_F(IESettings, TrustProbeNeedsOnlyTheDomainKey) {
    EXPECT_EQ(CheckIETrustCfg(), -1);
    MakeKey(HKEY_CURRENT_USER, kInetKey);
    EXPECT_EQ(CheckIETrustCfg(), -1);
    MakeKey(HKEY_CURRENT_USER, TrustKey());
    EXPECT_EQ(CheckIETrustCfg(), 1);
    PutDword(HKEY_CURRENT_USER, TrustKey(), "https", 3); // another zone still passes
    EXPECT_EQ(CheckIETrustCfg(), 1);
}

TEST_F(IESettings, TrustFixCreatesTheDomainKeyInTheTrustedZone) {
    EXPECT_EQ(SetIETrustCfg(), 1);
    EXPECT_EQ(CheckIETrustCfg(), 1);
    RawValue raw = ReadValue(HKEY_CURRENT_USER, TrustKey(), "https");
    ASSERT_TRUE(raw.found);
    EXPECT_EQ(raw.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(raw.data, DwordBytes(2));
}

TEST_F(IESettings, SecureProtocolsFixWritesTheFiveBits) {
    PutDword(HKEY_CURRENT_USER, kInetKey, "SecureProtocols", 0x0A80);
    ASSERT_EQ(CheckIESslCfg(), -1);
    EXPECT_EQ(SetIESslCfg(), 1);
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kInetKey, "SecureProtocols").data, DwordBytes(10912));
    EXPECT_EQ(CheckIESslCfg(), 1);
}

TEST_F(IESettings, SecureProtocolsFixCreatesAMissingKey) {
    ASSERT_EQ(CheckIESslCfg(), -3);
    EXPECT_EQ(SetIESslCfg(), 1);
    EXPECT_EQ(CheckIESslCfg(), 1);
}

TEST_F(IESettings, WebSocketLimitFix) {
    PutDword(HKEY_LOCAL_MACHINE, kPolicyKey, "MaximumWebSocketConnections", 128);
    EXPECT_EQ(SetIEMaxConCfg(), 1);
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kPolicyKey, "MaximumWebSocketConnections").data,
              DwordBytes(100));
    EXPECT_EQ(CheckIEMaxConCfg(), 1);
}

struct SaveFixCase {
    const char* what;
    Prepare prepare;
    int result;
    DWORD typeAfter; // REG_NONE: the key must still be missing
    std::vector<BYTE> dataAfter;
};

TEST_F(IESettings, SaveVersionFixWritesThreeUnlessTheValueIsForeignOrTheKeyMissing) {
    const SaveFixCase cases[] = {
        {"value missing", kKeyOnly, 1, REG_DWORD, DwordBytes(3)},
        {"another number", Dword(0), 1, REG_DWORD, DwordBytes(3)},
        {"text", Text("2"), 1, REG_DWORD, DwordBytes(3)},
        {"binary stays", Binary({7, 0}), -1, REG_BINARY, {7, 0}},
        {"key missing", kNoKey, -3, REG_NONE, {}},
    };
    for (const auto& c : cases) {
        TempMachine fresh;
        DeleteRegistryTree(HKEY_CURRENT_USER, kInetKey);
        c.prepare(HKEY_CURRENT_USER, kInetKey, "SyncMode5");
        EXPECT_EQ(SetIESaveVerCfg(), c.result) << c.what;
        if (c.typeAfter == REG_NONE) {
            EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kInetKey)) << c.what;
            continue;
        }
        RawValue raw = ReadValue(HKEY_CURRENT_USER, kInetKey, "SyncMode5");
        EXPECT_EQ(raw.type, c.typeAfter) << c.what;
        EXPECT_EQ(raw.data, c.dataAfter) << c.what;
        EXPECT_EQ(CheckIESaveVerCfg(), c.typeAfter == REG_DWORD ? 1 : -1) << c.what;
    }
}
} // namespace
