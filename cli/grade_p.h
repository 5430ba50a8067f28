#pragma once
// Print quality grades in the automatic read's output.

#include <QByteArray>
#include <QString>
#include <string>
#include <vector>

#include "options_p.h"
#include "scan39/reader.h"

namespace scan39::cli {

struct GradeSummary {
    char overall = 'F';  // of the bands --grade-bands chose
    double value = 0;
    std::string json;    // the "grade" member's object
    QString shortfalls;  // parameters below A and broken rules, "" for none
};

// One grade per symbol, in the same order; none unless --grade.
std::vector<GradeSummary> GradeSymbols(const reader::GreyView& picture,
                                       const std::vector<reader::Symbol>& symbols,
                                       const Options& options);

// One grade per symbol located but not read, in the same order; none unless --grade.
std::vector<GradeSummary> GradeUnread(const reader::GreyView& picture,
                                      const std::vector<reader::UnreadSymbol>& unread,
                                      const Options& options);

// "unread symbol at 12,40 (decode failed): grade F 0.0 (decode 0 of 10 profiles F; ...)".
QString UnreadDetails(const reader::UnreadSymbol& symbol, const GradeSummary& grade,
                      Language language);

// "grade B 3.2", for the text output and the annotation's label.
QString ShortGrade(const GradeSummary& grade, Language language);
// The same with what kept it from A: "grade F 0.0 (quiet zones 9.4 X F; ...)".
QString GradeDetails(const GradeSummary& grade, Language language);

}  // namespace scan39::cli
