#include "pewriter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace pewriter {

bool WriteImage(const std::string& path, const ImageSpec& imageSpec, std::string& error) {
    const std::vector<uint8_t> image = BuildImage(imageSpec);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(image.data(), 1, image.size(), f) == image.size();
    const int savedErrno = errno;
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed) {
        error = "cannot write " + path + ": " + std::strerror(written ? errno : savedErrno);
        std::remove(path.c_str());
        return false;
    }
    return true;
}

} // namespace pewriter
