#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

namespace fs = std::filesystem;

// A fresh folder under the system temp folder, removed with its contents.
class TempDir {
public:
    explicit TempDir(const std::string& tag = "vistrel");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

private:
    fs::path path_;
};

void writeFile(const fs::path& path, const std::string& content);
std::string readFile(const fs::path& path);
std::vector<std::string> readLines(const fs::path& path);

struct ProcessResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs `program` with `args` in `workDir` and waits for it. `env` entries
// are set (an empty value removes the variable) on top of the inherited
// environment. `watch`, when given, sees the standard output read so far
// and the child's pid after every read (to signal the child mid-run).
ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args, const fs::path& workDir,
                         const std::map<std::string, std::string>& env = {}, int timeoutSeconds = 600,
                         const std::function<void(const std::string& out, int pid)>& watch = {});

// build/bin/Vistrel.
std::string vistrelExecutable();

// Captures everything written to standard output (the log's console sink)
// from construction until text() is first called.
class CapturedOutput {
public:
    CapturedOutput();
    ~CapturedOutput();
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;
    const std::string& text();

private:
    bool done_ = false;
    std::string text_;
    std::FILE* file_ = nullptr;  // where standard output goes meanwhile
    int saved_ = -1;  // the standard output to restore
};

// Counts non-overlapping occurrences of `needle`.
int countOccurrences(const std::string& text, const std::string& needle);

// True when the process can write into folders it has chmod'ed read-only
// (root ignores permission bits), so permission tests must use another way.
bool permissionsIgnored();

}  // namespace testsupport
