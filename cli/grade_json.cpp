#include "grade_p.h"

#include "scan39/grade.h"
#include "scan39/interpret.h"

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

QByteArray SymbolJsonExtras(const reader::Symbol& symbol, const GradeSummary* grade) {
    QByteArray extras;
    if (const auto meaning =
            reader::Interpret(symbol.text, symbol.check == reader::CheckState::kVerified))
        extras += ",\"interpretation\":" + QByteArray::fromStdString(InterpretationJson(*meaning));
    if (grade != nullptr) extras += ",\"grade\":" + QByteArray::fromStdString(grade->json);
    return extras;
}

QString ShortGrade(const GradeSummary& grade, Language language) {
    return Tr(language, QStringLiteral("grade %1 %2"), QStringLiteral("等级 %1 %2"))
        .arg(QChar::fromLatin1(grade.overall))
        .arg(grade.value, 0, 'f', 1);
}

}  // namespace scan39::cli
