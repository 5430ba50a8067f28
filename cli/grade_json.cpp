#include "grade_p.h"

#include "scan39/grade.h"

namespace scan39::cli {

std::vector<GradeSummary> GradeSymbols(const reader::GreyView& picture,
                                       const std::vector<reader::Symbol>& symbols,
                                       const Options& options) {
    std::vector<GradeSummary> grades;
    if (!options.grade) return grades;
    const reader::GradeOptions gradeOptions{options.aperture, static_cast<double>(options.dpi)};
    for (const reader::Symbol& s : symbols) {
        const reader::SymbolGrade g = reader::Grade(picture, s, gradeOptions);
        grades.push_back({g.overall, g.value, reader::GradeJson(g)});
    }
    return grades;
}

QString ShortGrade(const GradeSummary& grade, Language language) {
    return Tr(language, QStringLiteral("grade %1 %2"), QStringLiteral("等级 %1 %2"))
        .arg(QChar::fromLatin1(grade.overall))
        .arg(grade.value, 0, 'f', 1);
}

}  // namespace scan39::cli
