#include "grade_p.h"

#include <cmath>

#include "scan39/grade.h"

namespace scan39::cli {
namespace {

QString ParameterName(int k, Language language) {
    static const char* const kChinese[] = {"译码",   "最小反射率", "符号反差", "最小边缘反差",
                                           "调制比", "缺陷度",     "可译码度", "空白区"};
    return language == Language::kChinese
               ? QString::fromUtf8(kChinese[k])
               : QString::fromLatin1(reader::kGradeParameterNames[k]).replace(u'_', u' ');
}

// What keeps the grade from A: each parameter below A with its value and letter (quiet zones
// are Code 39's rule of 10 X), then the wide/narrow ratio when it breaks Code 39's rule.
QString Shortfalls(const reader::SymbolGrade& g, Language language) {
    QStringList parts;
    const reader::GradeParameter* all[] = {
        &g.parameters.decode,          &g.parameters.minReflectance, &g.parameters.symbolContrast,
        &g.parameters.minEdgeContrast, &g.parameters.modulation,     &g.parameters.defects,
        &g.parameters.decodability,    &g.parameters.quietZones};
    for (int k = 0; k < 8; ++k) {
        // Decodability is measured on decoded profiles only: with none, decode says it all.
        if (all[k]->grade == 4 || (k == 6 && g.decoded == 0)) continue;
        QString value;
        if (k == 0)
            value =
                Tr(language, QStringLiteral("%1 of %2 profiles"), QStringLiteral("%1/%2 条曲线"))
                    .arg(g.decoded)
                    .arg(g.scans);
        else if (k == 7)  // Code 39's rule too
            value = QString::number(all[k]->value, 'f', 1) + QStringLiteral(" X < 10 X");
        else
            value = QString::number(all[k]->value, 'f', 2);
        parts << QStringLiteral("%1 %2 %3")
                     .arg(ParameterName(k, language), value,
                          QString(QChar::fromLatin1(reader::GradeLetter(all[k]->grade))));
    }
    if (g.decoded > 0 && !g.ratioRuleOk)
        parts << Tr(language, QStringLiteral("wide/narrow %1 outside %2-3.0"),
                    QStringLiteral("宽窄比 %1 不在 %2–3.0 内"))
                     .arg(g.wideNarrowRatio, 0, 'f', 2)
                     .arg(g.dpi > 0 ? g.minimumRatio : 2.0, 0, 'f', 1);
    return parts.join(QStringLiteral("; "));
}

template <typename Located>
std::vector<GradeSummary> GradeEach(const reader::GreyView& picture,
                                    const std::vector<Located>& symbols, const Options& options) {
    std::vector<GradeSummary> grades;
    if (!options.grade) return grades;
    const reader::GradeOptions gradeOptions{options.aperture, static_cast<double>(options.dpi)};
    for (const Located& s : symbols) {
        const reader::SymbolGrade g = reader::Grade(picture, s, gradeOptions);
        GradeSummary summary;
        summary.overall = options.integerBands ? g.overall : g.fractionalOverall;
        summary.value = options.integerBands ? g.value : g.fractionalValue;
        summary.json = reader::GradeJson(g);
        summary.shortfalls = Shortfalls(g, options.language);
        grades.push_back(std::move(summary));
    }
    return grades;
}

}  // namespace

std::vector<GradeSummary> GradeSymbols(const reader::GreyView& picture,
                                       const std::vector<reader::Symbol>& symbols,
                                       const Options& options) {
    return GradeEach(picture, symbols, options);
}

std::vector<GradeSummary> GradeUnread(const reader::GreyView& picture,
                                      const std::vector<reader::UnreadSymbol>& unread,
                                      const Options& options) {
    return GradeEach(picture, unread, options);
}

QString UnreadDetails(const reader::UnreadSymbol& symbol, const GradeSummary& grade,
                      Language language) {
    const auto& c = symbol.corners;
    const int x = static_cast<int>(std::lround((c[0].x + c[1].x + c[2].x + c[3].x) / 4));
    const int y = static_cast<int>(std::lround((c[0].y + c[1].y + c[2].y + c[3].y) / 4));
    const int failing = symbol.quietZoneShort ? 7 : 0;
    return Tr(language, QStringLiteral("unread symbol at %1,%2 (%3 failed): %4"),
              QStringLiteral("未能译码的条码，位于 %1,%2（%3不合格）：%4"))
        .arg(x)
        .arg(y)
        .arg(ParameterName(failing, language), GradeDetails(grade, language));
}

QString ShortGrade(const GradeSummary& grade, Language language) {
    return Tr(language, QStringLiteral("grade %1 %2"), QStringLiteral("等级 %1 %2"))
        .arg(QChar::fromLatin1(grade.overall))
        .arg(grade.value, 0, 'f', 1);
}

QString GradeDetails(const GradeSummary& grade, Language language) {
    if (grade.shortfalls.isEmpty()) return ShortGrade(grade, language);
    return ShortGrade(grade, language) + QStringLiteral(" (") + grade.shortfalls +
           QStringLiteral(")");
}

}  // namespace scan39::cli
