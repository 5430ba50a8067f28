// Where a batch is cut and what its parts are called; the records that say so.

#include <algorithm>

#include "scan39/documents/split.h"
#include "scan39/record_json.h"

namespace scan39::documents {

bool IsSeparator(const std::string& text, const SplitRules& rules) {
    const QString t = QString::fromStdString(text);
    if (rules.separators.contains(t)) return true;
    return !rules.separatorPattern.pattern().isEmpty() && rules.separatorPattern.isValid() &&
           rules.separatorPattern.match(t).hasMatch();
}

std::optional<QString> NameIn(const std::string& text, const SplitRules& rules) {
    if (rules.nameFrom.pattern().isEmpty() || !rules.nameFrom.isValid()) return std::nullopt;
    const auto match = rules.nameFrom.match(QString::fromStdString(text));
    if (!match.hasMatch() || match.captured(0).isEmpty()) return std::nullopt;
    return match.captured(0);
}

QByteArray SafeLeaf(const QString& name) {
    QByteArray leaf = name.toUtf8();
    for (char& c : leaf) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '/' || u < 0x20 || u == 0x7f) c = '_';
    }
    if (leaf.startsWith('.')) leaf[0] = '_';
    return leaf;
}

std::vector<SplitPart> PlanParts(const std::vector<PageFinding>& findings,
                                 const SplitRules& rules) {
    std::vector<SplitPart> parts;
    SplitPart current;
    bool hasContent = false;  // a page that is no separator
    std::vector<int> pendingSeparators;
    QString pendingName;
    QStringList pendingOthers;
    const auto close = [&] {
        if (hasContent) parts.push_back(std::move(current));
        current = {};
        hasContent = false;
    };
    for (int i = 0; i < int(findings.size()); ++i) {
        const PageFinding& page = findings[size_t(i)];
        bool separator = false;
        QStringList names;
        if (!page.error) {
            for (const std::string& text : page.texts) {
                if (IsSeparator(text, rules)) {
                    separator = true;
                } else if (const auto name = NameIn(text, rules); name && !names.contains(*name)) {
                    names.append(*name);
                }
            }
        }
        if (separator) {
            close();
            pendingSeparators.push_back(i);
            if (!names.isEmpty()) {
                pendingName = names.takeFirst();
                pendingOthers = names;
            }
            continue;
        }
        if (!names.isEmpty()) {
            if (hasContent && current.name != names.front()) close();
            if (!hasContent) {
                current.name = names.takeFirst();
                current.otherNames = names;
                pendingName.clear();
            }
        }
        if (!hasContent) {
            current.separators = pendingSeparators;
            if (rules.keepSeparators) current.pages = pendingSeparators;
            if (current.name.isEmpty() && !pendingName.isEmpty()) {
                current.name = pendingName;
                current.otherNames = pendingOthers;
            }
            pendingSeparators.clear();
            pendingName.clear();
            pendingOthers.clear();
        }
        current.pages.push_back(i);
        hasContent = true;
    }
    close();
    // Separators after the last document: they belong to it.
    if (!pendingSeparators.empty() && !parts.empty()) {
        SplitPart& last = parts.back();
        last.separators.insert(last.separators.end(), pendingSeparators.begin(),
                               pendingSeparators.end());
        if (rules.keepSeparators)
            last.pages.insert(last.pages.end(), pendingSeparators.begin(), pendingSeparators.end());
    }
    return parts;
}

namespace {

// "key":"name" and, for a name that is not UTF-8, "key_bytes":"base64", as the readers'
// records name their files.
std::string NamedMembers(std::string_view key, const QByteArray& name) {
    std::string members =
        reader::JsonFileMembers(std::string_view(name.constData(), size_t(name.size())));
    // JsonFileMembers starts with "file" and may hold ,"file_bytes".
    const std::string keyText = '"' + std::string(key) + '"';
    members.replace(0, 6, keyText);
    const auto bytes = members.find(",\"file_bytes\":");
    if (bytes != std::string::npos)
        members.replace(bytes + 1, 12, '"' + std::string(key) + "_bytes\"");
    return members;
}

std::string PageList(const std::vector<int>& pages) {
    std::string list = "[";
    for (size_t i = 0; i < pages.size(); ++i) {
        if (i) list += ',';
        list += std::to_string(pages[i] + 1);
    }
    return list + ']';
}

std::string Text(const QString& text) {
    return reader::JsonString(text.toStdString());
}

}  // namespace

std::vector<std::string> SplitRecords(const SplitResult& result, const QByteArray& outDir) {
    std::vector<std::string> records;
    const std::string input = '{' + NamedMembers("input", result.input);
    if (result.error) {
        records.push_back(input + ",\"error\":" + Text(*result.error) + '}');
        return records;
    }
    const QByteArray folder = outDir.endsWith('/') ? outDir : outDir + '/';
    for (int i = 0; i < result.written && i < int(result.parts.size()); ++i) {
        const SplitPart& part = result.parts[size_t(i)];
        std::string record = input + ',' + NamedMembers("output", folder + part.leaf);
        record += ",\"pages\":" + PageList(part.pages);
        record += ",\"separators\":" + PageList(part.separators);
        record += ",\"name\":" + (part.name.isEmpty() ? std::string("null") : Text(part.name));
        if (!part.otherNames.isEmpty()) {
            record += ",\"other_names\":[";
            for (qsizetype n = 0; n < part.otherNames.size(); ++n)
                record += (n ? "," : "") + Text(part.otherNames[n]);
            record += ']';
        }
        records.push_back(record + '}');
    }
    for (const auto& [page, error] : result.pageErrors) {
        records.push_back(input + ",\"page\":" + std::to_string(page + 1) + ",\"pages\":" +
                          std::to_string(result.pageCount) + ",\"error\":" + Text(error) + '}');
    }
    if (result.writeError)
        records.push_back(input + ",\"error\":" + Text(*result.writeError) + '}');
    return records;
}

}  // namespace scan39::documents
