#pragma once
// Conversion between simplified and traditional characters through OpenCC, with the
// configurations the system's OpenCC ships (s2t.json, t2s.json).

#include "export/export.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velunor::internal {

class CChineseConverter {
  public:
    /// A converter for `conversion`; for None it leaves text as it is. Loads OpenCC's
    /// dictionaries, which takes a moment; Ready() tells whether they could be loaded.
    explicit CChineseConverter(ChineseConversion conversion);
    ~CChineseConverter();
    CChineseConverter(const CChineseConverter&) = delete;
    CChineseConverter& operator=(const CChineseConverter&) = delete;

    /// False when OpenCC could not load the configuration; Error() then says why.
    bool Ready() const;
    /// Why the configuration could not be loaded; empty when it was.
    const std::u16string& Error() const {
        return error_;
    }
    /// `text` converted; unchanged for None or when the converter is not ready. Not for two
    /// threads at once.
    std::u16string Convert(std::u16string_view text) const;
    /// Converts every text of `texts` in place, in one call to OpenCC when none holds a line
    /// break. Not for two threads at once.
    void ConvertAll(std::vector<std::u16string*>& texts) const;

  private:
    struct Handle;
    std::unique_ptr<Handle> handle_;
    std::u16string error_;
};

/// The OpenCC configuration file of `conversion`; nullptr for None.
const char* OpenccConfigName(ChineseConversion conversion);

} // namespace velunor::internal
