#include "scan39/box_record.h"

#include "scan39/record_json.h"

namespace scan39::reader {

std::string BoxRecordJson(const BoxRecord& r) {
    std::string j = "{";
    const auto member = [&](std::string_view name) {
        if (j.size() > 1) j += ',';
        j += '"';
        j += name;
        j += "\":";
    };
    if (r.file) j += JsonFileMembers(*r.file);
    if (r.symbol) {
        member("symbol");
        j += JsonString(*r.symbol);
    }
    if (r.box) {
        member("box");
        j += '[';
        for (std::size_t i = 0; i < r.box->size(); ++i) {
            if (i > 0) j += ',';
            j += std::to_string((*r.box)[i]);
        }
        j += ']';
    }
    member("result");
    j += std::to_string(r.result);
    member("value");
    j += r.value ? JsonString(*r.value) : std::string("null");
    if (r.reason) {
        member("reason");
        j += JsonString(*r.reason);
    }
    if (r.expected) {
        member("expected");
        j += JsonString(*r.expected);
    }
    return j + '}';
}

}  // namespace scan39::reader
