// Texts the user reads, in the user's language. The window installs a translator (Qt's); without
// one the English texts stand: in the unattended program, which loads no Qt, and wherever a text
// is data (the run log's lines, the list format), which never goes through translated().
// A literal meant for translation is marked where it is written, QT_TRANSLATE_NOOP("mivex", ...),
// so that lupdate finds it.
#pragma once

#include <string>
#include <string_view>

#ifndef QT_TRANSLATE_NOOP
#define QT_TRANSLATE_NOOP(scope, text) text
#endif

namespace mivex {

// Gives the translation of an English text (NUL-terminated), or the text itself.
using TextTranslator = std::string (*)(const char* english);

// Installed once at start, before any run or thread.
void installTextTranslator(TextTranslator translator);

// `english` in the user's language: a marked literal, or a text made of one.
std::string translated(const char* english);

// `text` with its first "%1" replaced by `value`.
std::string withArg(std::string text, std::string_view value);

}  // namespace mivex
