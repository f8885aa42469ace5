// The real program run on a list, unattended, from a folder of its own where its run log lands.
#pragma once

#include <sys/statvfs.h>

#include <ctime>

#include "queue/log.h"
#include "tests/testsupport.h"

namespace mivex::test {

class Unattended {
public:
    Unattended() {
        ::chmod(prog.path().c_str(), 0755);
        std::filesystem::copy_file(MIVEX_EXE, exe());
        ::chmod(exe().c_str(), 0755);
    }
    std::string exe() const { return prog / "mivex"; }
    std::string logPath() const { return prog / logFileName(std::time(nullptr)); }
    // Writes the rows as a list (CR LF after each) and returns its path.
    std::string list(const std::vector<std::string>& rows) const {
        std::string body;
        for (const auto& r : rows) {
            body += r + "\r\n";
        }
        writeFile(lists / "l.flq", body);
        return lists / "l.flq";
    }
    // The shim comes before the sanitizers' runtime, which would otherwise refuse to start.
    std::vector<std::string> command(const std::string& listPath) const {
        const char* asan = std::getenv("ASAN_OPTIONS");
        const std::string asanOptions = std::string(asan ? asan : "") + ":verify_asan_link_order=0";
        return {"env",  "LD_PRELOAD=" + preload, "ASAN_OPTIONS=" + asanOptions, exe(), listPath,
                "-auto"};
    }
    ProcessResult run(const std::string& path) const { return runProcess(command(path), 120); }
    TempDir prog;
    TempDir lists;
    std::string preload;  // a shared library loaded into the program's runs, or empty
};

// Runs of the program see filesystems without RENAME_NOREPLACE, hard links or unnamed files.
inline constexpr const char* kPlainFs = MIVEX_PLAINFS;
// Runs of the program see the system calls named in MIVEX_FAULT fail (see tests/shims/faults.cpp).
inline constexpr const char* kFaults = MIVEX_FAULTS;

inline std::string entry(const char* codes, const std::string& source, const std::string& dest) {
    return std::string(codes) + " --> " + source + " --> " + dest;
}

// Whether `name` (a path or a bare name) is one of the engine's temporary files.
inline bool isTempName(const std::string& name) {
    const std::string base = name.substr(name.rfind('/') + 1);
    return base.starts_with(".mivex-") && base.ends_with(".part");
}

// The bytes in use on the filesystem holding `path`, named files or not.
inline long long usedBytesOn(const std::string& path) {
    struct statvfs fs {};
    ::statvfs(path.c_str(), &fs);
    return static_cast<long long>((fs.f_blocks - fs.f_bfree) * fs.f_frsize);
}

}  // namespace mivex::test
