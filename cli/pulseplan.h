// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <optional>

// What vorlagen-send needs for --pulses, without a port: the pattern and the options as they
// were typed, turned into either the rate and the train for the window's engine, or the refusal
// to report as a wrong call; and the text --plan prints.
struct PulsesRequest
{
    QString pattern;                  // --pulses
    bool standardRates = false;       // --standard-rates
    std::optional<QString> tolerance; // --tolerance, in percent; none: 2 %
    bool repeating = false;           // --period given: the train keeps the repetition's limit
};

struct PulsesAnswer
{
    QString refusal;   // empty when the pattern can be made
    QString rateText;  // for --rate / "b/s:"
    QString trainText; // the train, as "Podaci za slanje" takes it
    QString plan;      // rate, train and every pulse wanted against made, one per line

    bool ok() const { return refusal.isEmpty(); }
};

PulsesAnswer answerPulses(const PulsesRequest &request);
