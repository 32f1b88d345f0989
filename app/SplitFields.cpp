#include "ZynUpdateApp.h"

namespace {
bool IsLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// Removes surrounding blanks, then surrounding double quotes.
std::string TrimField(const std::string& field) {
    size_t first = field.find_first_not_of(' ');
    if (first == std::string::npos)
        return std::string();
    std::string trimmed = field.substr(first, field.find_last_not_of(' ') - first + 1);
    if (trimmed.size() >= 2 && trimmed.front() == '"' && trimmed.back() == '"')
        trimmed = trimmed.substr(1, trimmed.size() - 2);
    return trimmed;
}
}  // namespace

int SplitFields(const std::string& text, std::vector<std::string>& fields, char separator, BOOL bTrim) {
    fields.clear();
    if (text.empty())
        return 1;
    std::string field;
    bool inQuotes = false;
    bool pendingQuote = false;
    int previous = -1;  // equals no byte
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (IsLeadByte(c)) {
            field += text[i];
            if (i + 1 < text.size())
                field += text[++i];
            continue;
        }
        bool handled = false;
        if (pendingQuote) {
            if (c == '"') {
                field += '"';  // an escaped quote; the field stays quoted
                pendingQuote = false;
                handled = true;
            } else {
                pendingQuote = false;
                inQuotes = false;
            }
        } else if (inQuotes) {
            if (c == '"')
                pendingQuote = true;
            else
                field += static_cast<char>(c);
            handled = true;
        }
        if (!handled) {
            if (c == static_cast<unsigned char>(separator)) {
                fields.push_back(bTrim ? TrimField(field) : field);
                field.clear();
            } else if (c == '"' && previous == ',') {
                inQuotes = true;
            } else {
                field += static_cast<char>(c);
            }
        }
        previous = c;
    }
    fields.push_back(bTrim ? TrimField(field) : field);
    return 1;
}
