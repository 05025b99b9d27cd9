// SPDX-License-Identifier: MIT
#include "app/qtstrings.h"

#include <cstring>
#include <iterator>

namespace {

struct Word
{
    const char *context;
    const char *source;
    const char *translation;
};

// The accelerator (&) stays on a letter of the translated word.
constexpr Word kWords[] = {
    {"QLineEdit", "&Undo", "&Ponisti"},
    {"QLineEdit", "&Redo", "Po&novi"},
    {"QLineEdit", "Cu&t", "Ise&ci"},
    {"QLineEdit", "&Copy", "&Kopiraj"},
    {"QLineEdit", "&Paste", "&Nalepi"},
    {"QLineEdit", "Delete", "Obrisi"},
    {"QLineEdit", "Select All", "Izaberi sve"},
    {"QPlatformTheme", "OK", "U redu"},
    {"QPlatformTheme", "Cancel", "Otkazi"},
    {"QPlatformTheme", "Close", "Zatvori"},
    {"QPlatformTheme", "Apply", "Primeni"},
};

} // namespace

QString QtStrings::translate(const char *context, const char *sourceText, const char *, int) const
{
    if (!context || !sourceText)
        return {};
    for (const Word &word : kWords) {
        if (std::strcmp(word.context, context) == 0 && std::strcmp(word.source, sourceText) == 0)
            return QString::fromLatin1(word.translation);
    }
    return {};
}
