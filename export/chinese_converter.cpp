// Simplified and traditional characters through OpenCC's C interface.

#include "export/internal/chinese_converter.h"

#include "core/core.h"

#include <opencc.h>

namespace velunor::internal {

struct CChineseConverter::Handle {
    opencc_t converter = reinterpret_cast<opencc_t>(-1);

    ~Handle() {
        if (IsOpen()) {
            opencc_close(converter);
        }
    }

    bool IsOpen() const {
        return converter != reinterpret_cast<opencc_t>(-1) && converter != nullptr;
    }
};

const char* OpenccConfigName(ChineseConversion conversion) {
    switch (conversion) {
    case ChineseConversion::SimplifiedToTraditional:
        return "s2t.json";
    case ChineseConversion::TraditionalToSimplified:
        return "t2s.json";
    case ChineseConversion::None:
        break;
    }
    return nullptr;
}

CChineseConverter::CChineseConverter(ChineseConversion conversion) {
    const char* config = OpenccConfigName(conversion);
    if (config == nullptr) {
        return;
    }
    handle_ = std::make_unique<Handle>();
    handle_->converter = opencc_open(config);
    if (!handle_->IsOpen()) {
        const char* why = opencc_error();
        error_ = u"无法载入简繁转换配置 " + Utf8ToWide(config) +
                 (why != nullptr && *why != '\0' ? u"（" + Utf8ToWide(why) + u"）" : u"");
        handle_.reset();
    }
}

CChineseConverter::~CChineseConverter() = default;

bool CChineseConverter::Ready() const {
    return error_.empty();
}

std::u16string CChineseConverter::Convert(std::u16string_view text) const {
    if (!handle_ || text.empty()) {
        return std::u16string(text);
    }
    std::string bytes = WideToUtf8(text);
    std::unique_ptr<char, decltype(&opencc_convert_utf8_free)> converted(
        opencc_convert_utf8(handle_->converter, bytes.data(), bytes.size()),
        &opencc_convert_utf8_free);
    if (!converted) {
        return std::u16string(text);
    }
    return Utf8ToWide(converted.get());
}

void CChineseConverter::ConvertAll(std::vector<std::u16string*>& texts) const {
    if (!handle_ || texts.empty()) {
        return;
    }
    // OpenCC costs much more per call than per character, so the texts go through it as one
    // text of lines; should the lines not come back one for one, each is converted alone.
    std::u16string joined;
    for (const std::u16string* text : texts) {
        if (text->find(u'\n') != std::u16string::npos) {
            joined.clear();
            break;
        }
        joined += *text;
        joined += u'\n';
    }
    if (!joined.empty()) {
        std::u16string converted = Convert(joined);
        std::vector<std::u16string> lines;
        size_t start = 0;
        for (size_t end = converted.find(u'\n'); end != std::u16string::npos;
             end = converted.find(u'\n', start)) {
            lines.push_back(converted.substr(start, end - start));
            start = end + 1;
        }
        if (lines.size() == texts.size() && start == converted.size()) {
            for (size_t i = 0; i < texts.size(); ++i) {
                *texts[i] = std::move(lines[i]);
            }
            return;
        }
    }
    for (std::u16string* text : texts) {
        *text = Convert(*text);
    }
}

} // namespace velunor::internal
