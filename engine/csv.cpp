#include "engine/csv.h"

namespace uninst {

std::string csvRecord(const std::vector<std::string_view>& fields) {
    std::string record;
    bool first = true;
    for (const std::string_view field : fields) {
        if (!first)
            record.push_back(',');
        first = false;
        if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
            record.append(field);
            continue;
        }
        record.push_back('"');
        for (const char c : field) {
            if (c == '"')
                record.push_back('"');
            record.push_back(c);
        }
        record.push_back('"');
    }
    return record;
}

} // namespace uninst
