#include "tests/e2e/record.h"

#include <stdexcept>

namespace lumoradex::e2e {
namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// A '%' not followed by two hexadecimal digits is kept as it is: the writer escapes every '%'.
std::string Unescape(std::string_view text) {
    std::string plain;
    plain.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
            plain += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
            i += 2;
        } else {
            plain += text[i];
        }
    }
    return plain;
}

} // namespace

const std::string& Record::Get(const std::string& key) const {
    auto found = fields.find(key);
    if (found == fields.end())
        throw std::out_of_range("record '" + kind + "' has no field '" + key + "'");
    return found->second;
}

long long Record::Number(const std::string& key) const {
    const std::string& text = Get(key);
    size_t used = 0;
    long long value = std::stoll(text, &used, 0);
    if (used != text.size())
        throw std::invalid_argument("field '" + key + "' of record '" + kind + "' is not a number: " + text);
    return value;
}

Record ParseRecord(std::string_view line) {
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    Record record;
    size_t start = 0;
    bool first = true;
    while (start <= line.size()) {
        size_t end = line.find('\t', start);
        if (end == std::string_view::npos)
            end = line.size();
        std::string_view field = line.substr(start, end - start);
        if (first) {
            record.kind = std::string(field);
            first = false;
        } else if (size_t equals = field.find('='); equals != std::string_view::npos) {
            record.fields[std::string(field.substr(0, equals))] = Unescape(field.substr(equals + 1));
        }
        start = end + 1;
    }
    return record;
}

std::vector<Record> ParseRecords(std::string_view text) {
    std::vector<Record> records;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line != "\r")
            records.push_back(ParseRecord(line));
        start = end + 1;
    }
    return records;
}

std::vector<Record> RecordsOfKind(const std::vector<Record>& records, std::string_view kind) {
    std::vector<Record> chosen;
    for (const Record& record : records)
        if (record.kind == kind)
            chosen.push_back(record);
    return chosen;
}

} // namespace lumoradex::e2e
