#include "pe_fixture.h"

#include "pewriter.h"

#include <fstream>
#include <stdexcept>

std::vector<uint8_t> PeImage(const std::string& version, bool x64) {
    pewriter::FourPartVersion v;
    if (!pewriter::ParseVersion(version, v))
        throw std::invalid_argument("not a version a.b.c.d: " + version);
    pewriter::ImageSpec imageSpec;
    imageSpec.machine = x64 ? pewriter::Machine::Amd64 : pewriter::Machine::I386;
    imageSpec.version = pewriter::MakeVersionResource(v);
    return pewriter::BuildImage(imageSpec);
}

std::vector<uint8_t> PeImageWithoutResources(bool x64) {
    pewriter::ImageSpec imageSpec;
    imageSpec.machine = x64 ? pewriter::Machine::Amd64 : pewriter::Machine::I386;
    return pewriter::BuildImage(imageSpec);
}

void WriteBytes(const std::filesystem::path& file, const std::vector<uint8_t>& bytes) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + file.string());
}

void WritePe(const std::filesystem::path& file, const std::string& version, bool x64) {
    WriteBytes(file, PeImage(version, x64));
}
