#pragma once
// Reads the line format of the fixture programs (velmor.log, explorer.log, the inspector's report):
// a kind, then TAB-separated key=value fields, values with %, TAB, CR and LF escaped as %25, %09,
// %0D and %0A. Written by tests/fixtures/common/record_line_win.h.

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace lumoradex::e2e {

struct Record {
    std::string kind;
    std::map<std::string, std::string> fields;

    bool Has(const std::string& key) const { return fields.count(key) != 0; }
    // The field's text; throws std::out_of_range naming the key when it is absent.
    const std::string& Get(const std::string& key) const;
    // The field read as a number, decimal or 0x-prefixed hexadecimal; throws when absent or not a number.
    long long Number(const std::string& key) const;
    bool Flag(const std::string& key) const { return Number(key) != 0; }
};

Record ParseRecord(std::string_view line);
// Every non-empty line of a text; a last line without its line feed counts too.
std::vector<Record> ParseRecords(std::string_view text);
// The records of one kind, in order.
std::vector<Record> RecordsOfKind(const std::vector<Record>& records, std::string_view kind);

} // namespace lumoradex::e2e
