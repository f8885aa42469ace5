// A failed entry of a run, in words.
#include "queue/runfailure.h"

#include <algorithm>
#include <cstdio>

#include "platform/resultcodes.h"
#include "platform/texts.h"

namespace mivex {

std::string describeFailure(const RunFailure& failure) {
    std::string text =
        withArg(translated(QT_TRANSLATE_NOOP("mivex", "line %1: ")), std::to_string(failure.line));
    if (!failure.entry.empty()) {  // a blank line has nothing to show
        text += printable(failure.entry) + ": ";
    }
    text += describeReason(failure.code);
    if (!failure.item.empty()) {
        text += withArg(translated(QT_TRANSLATE_NOOP("mivex", "; the file: %1")),
                        printable(failure.item));
    }
    return text;
}

std::string describeReason(int code) {
    std::string text = plainReason(code);
    if (code != kNotAnEntry && !describeCode(code).empty()) {
        text += withArg(translated(QT_TRANSLATE_NOOP("mivex", " (code %1)")), std::to_string(code));
    }
    return text;
}

std::string describeRun(const std::vector<RunFailure>& failures, bool stopped,
                        const std::string& logPath) {
    std::string text;
    for (const RunFailure& failure : failures) {
        text += describeFailure(failure) + "\n";
    }
    if (stopped) {
        text += translated(QT_TRANSLATE_NOOP(
                    "mivex", "The run was stopped; the rest of the queue was not carried out.")) +
                "\n";
    }
    return text + "\n" +
           (logPath.empty() ? translated(QT_TRANSLATE_NOOP("mivex", "This run has no log."))
                            : withArg(translated(QT_TRANSLATE_NOOP("mivex", "Run log: %1")),
                                      printable(logPath)));
}

std::string printable(std::string_view text) {
    const auto control = [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7f;
    };
    if (std::none_of(text.begin(), text.end(), control)) {
        return std::string(text);  // the usual path: nothing to escape
    }
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (control(c)) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace mivex
