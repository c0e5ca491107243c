#include "engine/update/program_files.h"

namespace fs = std::filesystem;

namespace {

// A name beside `file` that is free: "<file><mark><n>" (past 10,000 taken names, the last
// one, on which the rename then fails).
fs::path FreeNameBeside(const fs::path& file, const char* mark) {
    fs::path candidate;
    for (int n = 1; n <= 10000; ++n) {
        candidate = file;
        candidate += mark + std::to_string(n);
        std::error_code notFound;
        if (!fs::exists(fs::symlink_status(candidate, notFound)))
            break;
    }
    return candidate;
}

struct Step {
    fs::path target;
    fs::path aside; // empty: there was no file at the target
    fs::path staged;
    bool placed = false; // the new file is at the target
    std::vector<fs::path> madeFolders;
};

void Undo(std::vector<Step>& steps) {
    std::error_code ec;
    for (auto it = steps.rbegin(); it != steps.rend(); ++it) {
        if (!it->aside.empty())
            fs::rename(it->aside, it->target, ec); // over the new file, if it got there
        else if (it->placed)
            fs::remove(it->target, ec);
        fs::remove(it->staged, ec);
        for (auto folder = it->madeFolders.rbegin(); folder != it->madeFolders.rend(); ++folder)
            fs::remove(*folder, ec); // only when empty
    }
    steps.clear();
}

} // namespace

bool ReplaceProgramFiles(const fs::path& unpacked, const std::vector<fs::path>& files,
                         const fs::path& programDir, std::string& why) {
    std::vector<Step> steps;
    for (const fs::path& relative : files) {
        Step step;
        step.target = programDir / relative;
        std::error_code ec;
        // The folders it needs, noted so that an undo removes them again.
        std::vector<fs::path> missing;
        for (fs::path p = step.target.parent_path(); p != programDir && !fs::exists(p, ec);
             p = p.parent_path())
            missing.push_back(p);
        for (auto p = missing.rbegin(); p != missing.rend(); ++p) {
            if (!fs::create_directory(*p, ec) && ec)
                break;
            step.madeFolders.push_back(*p);
        }
        if (!ec) {
            step.staged = FreeNameBeside(step.target, ".new-");
            fs::copy_file(unpacked / relative, step.staged, ec);
        }
        std::error_code probe; // a target that is not there is no error
        if (!ec && fs::exists(fs::symlink_status(step.target, probe))) {
            step.aside = FreeNameBeside(step.target, kOldFileMark);
            fs::rename(step.target, step.aside, ec);
            if (ec)
                step.aside.clear();
        }
        if (!ec) {
            fs::rename(step.staged, step.target, ec);
            step.placed = !ec;
        }
        steps.push_back(step);
        if (ec) {
            why = relative.u8string() + ": " + ec.message();
            Undo(steps);
            return false;
        }
    }
    return true;
}

fs::path MoveProgramFileAside(const fs::path& program) {
    const fs::path aside = FreeNameBeside(program, kOldFileMark);
    std::error_code ec;
    fs::rename(program, aside, ec);
    return ec ? fs::path() : aside;
}

bool PutProgramFileBack(const fs::path& aside, const fs::path& program) {
    std::error_code ec;
    if (fs::exists(fs::symlink_status(program, ec)))
        return true;
    if (!aside.empty())
        fs::rename(aside, program, ec);
    return false;
}

int RemoveOldProgramFiles(const fs::path& programDir) {
    int left = 0;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(programDir, ec), end; !ec && it != end;
         it.increment(ec)) {
        std::error_code ignored;
        const std::string name = it->path().filename().string();
        const std::size_t mark = name.rfind(kOldFileMark);
        if (mark != std::string::npos && mark > 0 &&
            name.find_first_not_of("0123456789", mark + sizeof kOldFileMark - 1) ==
                std::string::npos &&
            it->is_regular_file(ignored) && !fs::remove(it->path(), ignored))
            ++left;
    }
    return left;
}
