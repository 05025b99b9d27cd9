// SPDX-License-Identifier: MIT
#pragma once

#include <QTranslator>

// Qt's own words in the window (the text fields' context menu, the message boxes' button) in
// the operator's language, as a small translation installed at start-up: every word the
// operator reads is Serbian-Croatian without diacritics, also those Qt puts there. The words
// are the catalogue's (texts/window.h); this only says which of Qt's each one replaces.
class QtStrings : public QTranslator
{
public:
    using QTranslator::QTranslator;
    QString translate(const char *context, const char *sourceText,
                      const char *disambiguation = nullptr, int n = -1) const override;
    bool isEmpty() const override { return false; }
};
