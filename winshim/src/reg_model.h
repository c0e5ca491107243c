// The registry as data: keys named by full paths ("HKEY_CURRENT_USER\Software\X") with
// their values. Names compare case-insensitively and keep the case first written. String
// data is held as Windows holds it, UTF-16LE; names are UTF-8.
#pragma once

#include "reg_text.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace winshim::reg {

struct RegValue {
    std::string name; // "" is the key's default value
    uint32_t type = 0;
    Bytes data;
    bool operator==(const RegValue& o) const {
        return name == o.name && type == o.type && data == o.data;
    }
};

struct RegKey {
    std::string path;
    std::vector<RegValue> values;

    const RegValue* FindValue(const std::string& name) const;
    // Replaces the data and type of a value of that name (keeping its case) or appends it.
    void SetValue(const RegValue& value);
    bool DeleteValue(const std::string& name);
};

// Checks a key path and returns it with the root's canonical name: the first component
// must be a root's full name (any case), no component may be empty or hold a line break,
// and Windows' limits hold (255 characters a name, 512 levels). One trailing backslash is
// ignored.
bool NormalizeKeyPath(const std::string& path, std::string* normalized);
// "A\B\C" -> "A\B"; "" for a root.
std::string ParentPath(const std::string& path);
bool IsRootPath(const std::string& path);
// False for a key that Windows cannot create: a direct child of HKEY_USERS other than a
// loaded hive (".DEFAULT", "S-1-5-18", "-19", "-20", and a user's "S-1-5-21-a-b-c-rid"
// with its "_Classes"). The path must be normalized.
bool IsCreatablePath(const std::string& path);

class RegModel {
  public:
    // A key present in the model (a root is present only once it has been written).
    const RegKey* Find(const std::string& path) const;
    RegKey* Find(const std::string& path);
    // Roots always exist; other keys when present.
    bool Exists(const std::string& path) const;
    // Finds or creates the key with its missing ancestors (roots excepted); *created tells
    // whether a non-root key was new. The path must be normalized.
    RegKey& Ensure(const std::string& path, bool* created = nullptr);
    // Removes a key with all its subkeys; false when there was nothing to remove.
    bool DeleteTree(const std::string& path);
    // The direct subkeys of a key, in the order they were created.
    std::vector<const RegKey*> Children(const std::string& path) const;
    // Every key, parents before their subkeys, siblings in creation order; roots in the
    // order first seen. With a path: only that key's subtree.
    std::vector<const RegKey*> TreeOrder() const;
    std::vector<const RegKey*> TreeOrder(const std::string& path) const;

    size_t size() const { return keys_.size(); }
    // Same keys (exact names) with the same values in the same order.
    bool SameContent(const RegModel& other) const;

  private:
    void Reindex();
    void Walk(const std::string& folded,
              const std::unordered_map<std::string, std::vector<size_t>>& children,
              std::vector<const RegKey*>* out) const;
    std::unordered_map<std::string, std::vector<size_t>> ChildIndex() const;

    std::vector<RegKey> keys_;
    std::unordered_map<std::string, size_t> index_; // folded path -> position in keys_
};

} // namespace winshim::reg
