#pragma once
// Writing entries into a result log: empty-element tags one after another, each attribute
// value escaped in attribute mode, nothing added once the log holds 1000 characters.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace velunor::internal {

/// The size at which a log stops taking entries.
inline constexpr size_t kResultLogLimit = 1000;

/// One attribute of a log entry, its value already in text form.
struct LogAttribute {
    std::u16string_view name;
    std::u16string value;
};

/// A text attribute ("type", "encoding", "msg", "tagname").
LogAttribute LogText(std::u16string_view name, std::u16string_view value);
/// A number attribute ("n", "count", "length", "offset", "offset2"), written in decimal.
LogAttribute LogNumber(std::u16string_view name, uint64_t value);

/// Appends the entry `<entry a="v".../>` to `log`; does nothing when `log` is null or full.
void AppendLogEntry(std::u16string* log, std::u16string_view entry,
                    std::initializer_list<LogAttribute> attributes = {});

/// Sets the attributes on the first entry named `entry`: an existing attribute gets the new
/// value, a missing one is added after the last. Does nothing when there is no such entry or
/// the log is full.
void UpdateLogEntry(std::u16string* log, std::u16string_view entry,
                    std::initializer_list<LogAttribute> attributes);

} // namespace velunor::internal
