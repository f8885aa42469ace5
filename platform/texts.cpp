// Texts the user reads, in the user's language.
#include "platform/texts.h"

namespace mivex {

namespace {
TextTranslator gTranslator = nullptr;
}  // namespace

void installTextTranslator(TextTranslator translator) {
    gTranslator = translator;
}

std::string translated(const char* english) {
    return gTranslator ? gTranslator(english) : std::string(english);
}

std::string withArg(std::string text, std::string_view value) {
    if (const std::size_t at = text.find("%1"); at != std::string::npos) {
        text.replace(at, 2, value);
    }
    return text;
}

}  // namespace mivex
