// SPDX-License-Identifier: MIT
#include "cli/pulseplan.h"

#include "texts/pulses.h"
#include "train/pulsereport.h"

PulsesAnswer answerPulses(const PulsesRequest &request)
{
    PulsesAnswer answer;
    PulseDesign::Options options;
    options.rates = request.standardRates ? PulseDesign::Rates::Standard : PulseDesign::Rates::Any;
    options.terminator = request.repeating ? Terminator::Zero : Terminator::None;
    if (request.tolerance) {
        const auto tolerance = PulseDesign::toleranceFromPercent(*request.tolerance);
        if (!tolerance) {
            answer.refusal = OperatorText::badTolerance(*request.tolerance);
            return answer;
        }
        options.tolerance = *tolerance;
    }
    const PulseDesign::Answer design = PulseDesign::design(request.pattern, options);
    if (!design.design) {
        answer.refusal = design.refusal;
        return answer;
    }
    answer.rateText = QString::number(design.design->bitRate);
    answer.trainText = PulseDesign::trainText(design.design->bytes);
    answer.plan = PulseDesign::planText(*design.design, options);
    return answer;
}
