#include "scan39/record_json.h"

#include <string>

#include "scan39/grade.h"
#include "scan39/interpret.h"

namespace scan39::reader {

namespace {

std::string Position(const std::array<Point, 4>& corners) {
    std::string j = "[";
    for (std::size_t i = 0; i < corners.size(); ++i) {
        j += i ? ",[" : "[";
        j += JsonNumber(corners[i].x, kJsonDecimals) + ',' +
             JsonNumber(corners[i].y, kJsonDecimals) + ']';
    }
    return j + ']';
}

// The angle rounded as written, kept within [0, 360).
std::string Angle(double angle) {
    std::string a = JsonNumber(angle, kJsonDecimals);
    return a == "360" ? "0" : a;
}

}  // namespace

std::string SymbolJson(const Symbol& s, std::string_view grade) {
    const bool checked = s.check == CheckState::kVerified;
    std::string j = "{\"text\":" + JsonString(s.text) + ",\"position\":" + Position(s.corners) +
                    ",\"angle\":" + Angle(s.angle) + ",\"lines\":" + std::to_string(s.lines) +
                    ",\"aim\":\"" + AimIdentifier(s) + '"';
    if (checked) j += ",\"checked\":true";
    if (const auto meaning = Interpret(s.text, checked))
        j += ",\"interpretation\":" + InterpretationJson(*meaning);
    if (!grade.empty()) j += ",\"grade\":" + std::string(grade);
    return j + '}';
}

std::string UnreadJson(const UnreadSymbol& s, std::string_view grade) {
    std::string j = "{\"text\":null,\"unread\":true,\"position\":" + Position(s.corners) +
                    ",\"angle\":" + Angle(s.angle) + ",\"lines\":" + std::to_string(s.lines) +
                    ",\"characters\":" + std::to_string(s.characters) + ",\"failing\":\"" +
                    UnreadFailing(s) + '"';
    if (!grade.empty()) j += ",\"grade\":" + std::string(grade);
    return j + '}';
}

std::string RecordJson(const Record& r) {
    std::string j = "{";
    if (r.file) j += JsonFileMembers(*r.file);
    const auto member = [&](std::string_view name) {
        if (j.size() > 1) j += ',';
        j += '"';
        j += name;
        j += "\":";
    };
    if (r.page > 0) {
        member("page");
        j += std::to_string(r.page);
        member("pages");
        j += std::to_string(r.pages);
    }
    if (r.error) {
        member("error");
        j += JsonString(*r.error);
        return j + '}';
    }
    member("symbols");
    j += '[';
    for (std::size_t i = 0; i < r.symbols.size(); ++i) {
        if (i > 0) j += ',';
        j += SymbolJson(r.symbols[i], i < r.grades.size() ? r.grades[i] : std::string_view());
    }
    j += ']';
    if (!r.unread.empty()) {
        j += ",\"unread\":[";
        for (std::size_t i = 0; i < r.unread.size(); ++i) {
            if (i > 0) j += ',';
            j += UnreadJson(r.unread[i],
                            i < r.unreadGrades.size() ? r.unreadGrades[i] : std::string_view());
        }
        j += ']';
    }
    if (r.truncated) j += ",\"truncated\":true";
    return j + '}';
}

}  // namespace scan39::reader
