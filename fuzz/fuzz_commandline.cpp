// Fuzz target: reading the command line.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "run/commandline.h"

namespace {

// A stand-in for the filesystem, so that a run depends on its input alone: here the texts that
// end in ".flq" name existing files.
bool namesFile(std::string_view path) {
    return path.ends_with(".flq");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const mivex::CommandLine line = mivex::parseArgumentText(text, namesFile);
    // A text that names a file is never an unattended run.
    if (line.unattended != (text.find(" -auto") != std::string_view::npos && !namesFile(text))) {
        std::abort();
    }
    // The list path is a leading part of the text, all of it when not unattended, and unattended
    // it holds no " -".
    if (!text.starts_with(line.listPath) || (!line.unattended && line.listPath != text) ||
        (line.unattended && line.listPath.find(" -") != std::string::npos)) {
        std::abort();
    }
    // The arguments, split at NUL as the kernel hands them over, join with single blanks.
    std::vector<std::string> args{"mivex"};
    std::string joined;
    for (std::size_t start = 0; start <= size;) {
        const std::size_t end = std::min(text.find('\0', start), size);
        args.emplace_back(text.substr(start, end - start));
        joined += (args.size() > 2 ? " " : "") + args.back();
        start = end + 1;
    }
    std::vector<const char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(arg.c_str());
    }
    if (mivex::argumentText(static_cast<int>(argv.size()), argv.data()) != joined) {
        std::abort();
    }
    return 0;
}
