// A region that cannot be read fails the CA step in every mode, and the old middleware
// library stays where it is.
#include "engine_fixture.h"

#include <fstream>

using namespace enginetest;
using json = nlohmann::json;

namespace {

class RegionFaults : public EngineTest {};

TEST_F(RegionFaults, UnreadableRegionFailsTheCaStepAndDeletesNothing) {
    struct Case {
        const char* name;
        json document; // null: the fetch fails (404)
    };
    json missing = BaseDocument();
    missing.erase("shanxi");
    json text = BaseDocument();
    text["shanxi"] = "shanxi";
    json list = BaseDocument();
    list["shanxi"] = json::array({BaseDocument()["shanxi"]});
    json driverObject = BaseDocument();
    driverObject["shanxi"]["driver"] = json::object();
    json driverText = BaseDocument();
    driverText["shanxi"]["driver"] = "a.dll";
    json driverNumber = BaseDocument();
    driverNumber["shanxi"]["driver"] = 3;
    const Case cases[] = {
        {"fetch failed", json()},
        {"region missing", missing},
        {"region is text", text},
        {"region is an array", list},
        {"root is an array", json::array({BaseDocument()})},
        {"root is a number", 7},
        {"driver is an object", driverObject},
        {"driver is text", driverText},
        {"driver is a number", driverNumber},
    };
    for (const Case& c : cases) {
        if (c.document.is_null())
            server.ServeStatus(kDocPath, 404);
        else
            ServeDocument(c.document);
        std::ofstream(machine.Native(kSkfDll)) << "x";
        EXPECT_EQ(Run(0).Last("CheckCAVerSig"), c.document.is_null() ? INT_MIN : -3) << c.name;
        EXPECT_EQ(Run(3).Last("DownloadCaSig"), -3) << c.name;
        EXPECT_EQ(Run(4, 0, 4).Events().back(), "RepairFinishSig(4,0,0,-3)") << c.name;
        EXPECT_TRUE(std::filesystem::exists(machine.Native(kSkfDll))) << c.name;
    }
    EXPECT_TRUE(InstallerRuns().empty());
}

} // namespace
