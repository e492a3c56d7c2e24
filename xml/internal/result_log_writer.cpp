#include "xml/internal/result_log_writer.h"

#include "xml/xml_document.h"

namespace velunor::internal {
namespace {

bool IsFull(const std::u16string* log) {
    return log == nullptr || log->size() >= kResultLogLimit;
}

std::u16string QuotedValue(const LogAttribute& attribute) {
    std::u16string quoted = u"\"";
    quoted += CXmlDocument::EncodeEntities(attribute.value, CXmlDocument::kEncodeAttribute);
    quoted += u'"';
    return quoted;
}

// Where the entry starting at `entryStart` names `name`, the offset of its opening quote;
// npos when the entry lacks that attribute.
size_t FindAttributeValue(const std::u16string& log, size_t entryStart, size_t entryEnd,
                          std::u16string_view name) {
    std::u16string pattern = u" ";
    pattern += name;
    pattern += u"=\"";
    size_t found = log.find(pattern, entryStart);
    if (found == std::u16string::npos || found >= entryEnd) {
        return std::u16string::npos;
    }
    return found + pattern.size() - 1;
}

size_t FindEntry(const std::u16string& log, std::u16string_view entry) {
    std::u16string opening = u"<";
    opening += entry;
    size_t found = log.find(opening);
    while (found != std::u16string::npos) {
        char16_t next = found + opening.size() < log.size() ? log[found + opening.size()] : 0;
        if (next == u' ' || next == u'/') {
            return found;
        }
        found = log.find(opening, found + 1);
    }
    return std::u16string::npos;
}

} // namespace

LogAttribute LogText(std::u16string_view name, std::u16string_view value) {
    return {name, std::u16string(value)};
}

LogAttribute LogNumber(std::u16string_view name, uint64_t value) {
    std::string digits = std::to_string(value);
    return {name, std::u16string(digits.begin(), digits.end())};
}

void AppendLogEntry(std::u16string* log, std::u16string_view entry,
                    std::initializer_list<LogAttribute> attributes) {
    if (IsFull(log)) {
        return;
    }
    *log += u'<';
    *log += entry;
    for (const LogAttribute& attribute : attributes) {
        *log += u' ';
        *log += attribute.name;
        *log += u'=';
        *log += QuotedValue(attribute);
    }
    *log += u"/>";
}

void UpdateLogEntry(std::u16string* log, std::u16string_view entry,
                    std::initializer_list<LogAttribute> attributes) {
    if (IsFull(log)) {
        return;
    }
    size_t entryStart = FindEntry(*log, entry);
    if (entryStart == std::u16string::npos) {
        return;
    }
    for (const LogAttribute& attribute : attributes) {
        // Values are escaped, so the first "/>" after the entry's name closes the entry.
        size_t entryEnd = log->find(u"/>", entryStart);
        size_t quote = FindAttributeValue(*log, entryStart, entryEnd, attribute.name);
        if (quote == std::u16string::npos) {
            std::u16string added = u" ";
            added += attribute.name;
            added += u'=';
            added += QuotedValue(attribute);
            log->insert(entryEnd, added);
            continue;
        }
        size_t closing = log->find(u'"', quote + 1);
        log->replace(quote, closing + 1 - quote, QuotedValue(attribute));
    }
}

} // namespace velunor::internal
