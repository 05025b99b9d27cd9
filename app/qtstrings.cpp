// SPDX-License-Identifier: MIT
#include "app/qtstrings.h"

#include "texts/window.h"

#include <cstring>
#include <iterator>

namespace {

struct Word
{
    const char *context;
    const char *source;
    QString (*translation)();
};

constexpr Word kWords[] = {
    {"QLineEdit", "&Undo", &OperatorText::menuUndo},
    {"QLineEdit", "&Redo", &OperatorText::menuRedo},
    {"QLineEdit", "Cu&t", &OperatorText::menuCut},
    {"QLineEdit", "&Copy", &OperatorText::menuCopy},
    {"QLineEdit", "&Paste", &OperatorText::menuPaste},
    {"QLineEdit", "Delete", &OperatorText::menuDelete},
    {"QLineEdit", "Select All", &OperatorText::menuSelectAll},
    {"QPlatformTheme", "OK", &OperatorText::buttonOk},
    {"QPlatformTheme", "Cancel", &OperatorText::buttonCancel},
    {"QPlatformTheme", "Close", &OperatorText::buttonClose},
    {"QPlatformTheme", "Apply", &OperatorText::buttonApply},
};

} // namespace

QString QtStrings::translate(const char *context, const char *sourceText, const char *, int) const
{
    if (!context || !sourceText)
        return {};
    for (const Word &word : kWords) {
        if (std::strcmp(word.context, context) == 0 && std::strcmp(word.source, sourceText) == 0)
            return word.translation();
    }
    return {};
}
