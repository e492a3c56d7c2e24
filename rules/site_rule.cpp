#include "rules/site_rule.h"

namespace velunor {

bool IsUtf8Site(const CSiteRule& rule) {
    // Case-sensitive on purpose: rule files spell it exactly, and "utf-8" has always meant the
    // ANSI code page to Velunor.
    return rule.Charset == u"UTF-8";
}

} // namespace velunor
