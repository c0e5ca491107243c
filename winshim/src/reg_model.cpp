#include "reg_model.h"

#include "reg_roots.h"

#include <algorithm>

namespace winshim::reg {

const RegValue* RegKey::FindValue(const std::string& name) const {
    std::string folded = FoldCase(name);
    for (const RegValue& v : values)
        if (FoldCase(v.name) == folded)
            return &v;
    return nullptr;
}

void RegKey::SetValue(const RegValue& value) {
    if (RegValue* existing = const_cast<RegValue*>(FindValue(value.name))) {
        existing->type = value.type;
        existing->data = value.data;
        return;
    }
    values.push_back(value);
}

bool RegKey::DeleteValue(const std::string& name) {
    std::string folded = FoldCase(name);
    auto it = std::find_if(values.begin(), values.end(),
                           [&](const RegValue& v) { return FoldCase(v.name) == folded; });
    if (it == values.end())
        return false;
    values.erase(it);
    return true;
}

bool NormalizeKeyPath(const std::string& path, std::string* normalized) {
    std::string p = path;
    if (!p.empty() && p.back() == '\\')
        p.pop_back();
    if (p.find_first_of("\r\n") != std::string::npos)
        return false;
    size_t slash = p.find('\\');
    std::string root = CanonicalRootName(p.substr(0, slash));
    if (root.empty())
        return false;
    std::string rest = slash == std::string::npos ? std::string() : p.substr(slash);
    // rest is "" or "\a\b": every component must be non-empty.
    if (!rest.empty() && (rest.back() == '\\' || rest.find("\\\\") != std::string::npos))
        return false;
    // Windows' limits: 255 characters per key name, 512 levels.
    size_t levels = 0;
    for (size_t start = 1; start < rest.size(); ++levels) {
        size_t end = rest.find('\\', start);
        if (end == std::string::npos)
            end = rest.size();
        if (Utf8ToUtf16Le(rest.substr(start, end - start)).size() > 2 * 255)
            return false;
        start = end + 1;
    }
    if (levels > 512)
        return false;
    *normalized = root + rest;
    return true;
}

std::string ParentPath(const std::string& path) {
    size_t slash = path.rfind('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool IsRootPath(const std::string& path) {
    return path.find('\\') == std::string::npos;
}

namespace {
// "S-1-5-21-<n>-<n>-<n>-<n>", a user account's SID.
bool IsUserSid(const std::string& name) {
    const std::string prefix = "S-1-5-21-";
    if (name.compare(0, prefix.size(), prefix) != 0)
        return false;
    int parts = 0;
    size_t i = prefix.size();
    while (i < name.size()) {
        size_t end = name.find('-', i);
        if (end == std::string::npos)
            end = name.size();
        if (end == i || name.find_first_not_of("0123456789", i) < end)
            return false;
        ++parts;
        i = end + 1;
        if (end == name.size())
            break;
        if (i == name.size())
            return false;
    }
    return parts == 4;
}
} // namespace

bool IsCreatablePath(const std::string& path) {
    const std::string users = "HKEY_USERS\\";
    if (path.compare(0, users.size(), users) != 0)
        return true;
    std::string hive =
        FoldCase(path.substr(users.size(), path.find('\\', users.size()) - users.size()));
    const std::string classes = "_CLASSES";
    if (hive.size() > classes.size() &&
        hive.compare(hive.size() - classes.size(), classes.size(), classes) == 0 &&
        IsUserSid(hive.substr(0, hive.size() - classes.size())))
        return true;
    return hive == ".DEFAULT" || hive == "S-1-5-18" || hive == "S-1-5-19" || hive == "S-1-5-20" ||
           IsUserSid(hive);
}

const RegKey* RegModel::Find(const std::string& path) const {
    auto it = index_.find(FoldCase(path));
    return it == index_.end() ? nullptr : &keys_[it->second];
}

RegKey* RegModel::Find(const std::string& path) {
    auto it = index_.find(FoldCase(path));
    return it == index_.end() ? nullptr : &keys_[it->second];
}

bool RegModel::Exists(const std::string& path) const {
    return IsRootPath(path) ? !CanonicalRootName(path).empty() : Find(path) != nullptr;
}

RegKey& RegModel::Ensure(const std::string& path, bool* created) {
    if (created)
        *created = false;
    if (RegKey* existing = Find(path))
        return *existing;
    std::string actual = path;
    if (!IsRootPath(path)) {
        std::string parent = ParentPath(path);
        std::string parentActual = IsRootPath(parent) ? parent : Ensure(parent).path;
        actual = parentActual + path.substr(parent.size());
        if (created)
            *created = true;
    }
    keys_.push_back(RegKey{actual, {}});
    index_[FoldCase(actual)] = keys_.size() - 1;
    return keys_.back();
}

bool RegModel::DeleteTree(const std::string& path) {
    std::string folded = FoldCase(path);
    std::string prefix = folded + "\\";
    size_t before = keys_.size();
    keys_.erase(std::remove_if(keys_.begin(), keys_.end(),
                               [&](const RegKey& k) {
                                   std::string f = FoldCase(k.path);
                                   return f == folded || f.compare(0, prefix.size(), prefix) == 0;
                               }),
                keys_.end());
    Reindex();
    return keys_.size() != before;
}

void RegModel::Reindex() {
    index_.clear();
    for (size_t i = 0; i < keys_.size(); ++i)
        index_[FoldCase(keys_[i].path)] = i;
}

std::unordered_map<std::string, std::vector<size_t>> RegModel::ChildIndex() const {
    std::unordered_map<std::string, std::vector<size_t>> children;
    for (size_t i = 0; i < keys_.size(); ++i)
        if (!IsRootPath(keys_[i].path))
            children[FoldCase(ParentPath(keys_[i].path))].push_back(i);
    return children;
}

std::vector<const RegKey*> RegModel::Children(const std::string& path) const {
    std::vector<const RegKey*> out;
    auto children = ChildIndex();
    auto it = children.find(FoldCase(path));
    if (it != children.end())
        for (size_t i : it->second)
            out.push_back(&keys_[i]);
    return out;
}

void RegModel::Walk(const std::string& folded,
                    const std::unordered_map<std::string, std::vector<size_t>>& children,
                    std::vector<const RegKey*>* out) const {
    auto it = children.find(folded);
    if (it == children.end())
        return;
    for (size_t i : it->second) {
        out->push_back(&keys_[i]);
        Walk(FoldCase(keys_[i].path), children, out);
    }
}

std::vector<const RegKey*> RegModel::TreeOrder() const {
    std::vector<std::string> roots;
    for (const RegKey& k : keys_) {
        std::string root = k.path.substr(0, k.path.find('\\'));
        if (std::find(roots.begin(), roots.end(), root) == roots.end())
            roots.push_back(root);
    }
    auto children = ChildIndex();
    std::vector<const RegKey*> out;
    for (const std::string& root : roots) {
        if (const RegKey* k = Find(root))
            out.push_back(k);
        Walk(root, children, &out);
    }
    return out;
}

std::vector<const RegKey*> RegModel::TreeOrder(const std::string& path) const {
    std::vector<const RegKey*> out;
    if (const RegKey* k = Find(path))
        out.push_back(k);
    Walk(FoldCase(path), ChildIndex(), &out);
    return out;
}

bool RegModel::SameContent(const RegModel& other) const {
    if (keys_.size() != other.keys_.size())
        return false;
    for (const RegKey& k : keys_) {
        const RegKey* o = other.Find(k.path);
        if (!o || o->path != k.path || o->values != k.values)
            return false;
    }
    return true;
}

} // namespace winshim::reg
