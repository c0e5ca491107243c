#pragma once

#include <filesystem>
#include <string>

// The installer folder that the server hands out. Request paths are resolved inside it only:
// ".." components, backslashes and symbolic links that lead out of the folder are refused.
class FileStore {
  public:
    enum class Status { Found, NotFound, Forbidden };
    struct Lookup {
        Status status;
        std::filesystem::path file; // set when found
    };

    // Fails (false, with a message) when root is not an existing directory.
    bool Open(const std::string& root, std::string& error);
    const std::filesystem::path& root() const { return root_; }

    // relativePath is the decoded URL path below the files prefix, '/'-separated.
    Lookup Resolve(const std::string& relativePath) const;

  private:
    std::filesystem::path root_; // canonical
};
