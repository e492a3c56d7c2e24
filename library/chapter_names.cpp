// Chapter name keys and matching.

#include "library/chapter_names.h"

#include "core/core.h"

#include <map>

namespace velunor {
namespace {

// The value of a Chinese digit, -1 for any other character.
int ChineseDigit(char16_t c) {
    static constexpr std::u16string_view kDigits[] = {
        u"零〇", u"一壹", u"二贰两", u"三叁", u"四肆", u"五伍", u"六陆", u"七柒", u"八捌", u"九玖"};
    for (int value = 0; value < 10; ++value) {
        if (kDigits[value].find(c) != std::u16string_view::npos) {
            return value;
        }
    }
    return -1;
}

// The value of a Chinese numeral unit, 0 for any other character.
long long ChineseUnit(char16_t c) {
    switch (c) {
    case u'十':
    case u'拾':
        return 10;
    case u'百':
    case u'佰':
        return 100;
    case u'千':
    case u'仟':
        return 1000;
    case u'万':
        return 10000;
    case u'亿':
        return 100000000;
    default:
        return 0;
    }
}

bool IsChineseNumeral(char16_t c) {
    return ChineseDigit(c) >= 0 || ChineseUnit(c) > 0;
}

// The Arabic digits of the Chinese numeral `run`: read by its units ("一百零五" is 105, a unit
// without a digit before it counts once: "十二" is 12), or digit by digit when it has none.
std::u16string ArabicOfChinese(std::u16string_view run) {
    std::u16string digits;
    bool hasUnit = false;
    for (char16_t c : run) {
        hasUnit = hasUnit || ChineseUnit(c) > 0;
        if (ChineseDigit(c) >= 0) {
            digits += static_cast<char16_t>(u'0' + ChineseDigit(c));
        }
    }
    if (!hasUnit) {
        return digits;
    }
    // Hundreds of millions, tens of thousands, and the part below ten thousand read so far.
    long long yi = 0;
    long long wan = 0;
    long long section = 0;
    long long digit = 0;
    for (char16_t c : run) {
        long long unit = ChineseUnit(c);
        long long below = section + digit;
        if (unit == 0) {
            digit = ChineseDigit(c);
            continue;
        }
        if (unit < 10000) {
            section += (digit == 0 ? 1 : digit) * unit;
        } else if (unit == 10000) {
            wan = (below == 0 ? 1 : below) * unit;
            section = 0;
        } else {
            long long beforeYi = yi + wan + below;
            yi = (beforeYi == 0 ? 1 : beforeYi) * unit;
            wan = 0;
            section = 0;
        }
        digit = 0;
    }
    return DecimalText(yi + wan + section + digit);
}

// `c` as the key keeps it: full-width letters and digits as half-width ones, ASCII letters in
// lower case; 0 for a character the key leaves out (spaces, punctuation, symbols).
char16_t KeptCharacter(char16_t c) {
    if (c >= u'！' && c <= u'～') {
        c = static_cast<char16_t>(c - u'！' + u'!');
    }
    if (c < 0x80) {
        bool kept = IsAsciiLetter(c) || (c >= u'0' && c <= u'9');
        return kept ? AsciiLower(c) : 0;
    }
    bool punctuation = (c >= 0x00A0 && c <= 0x00BF) || (c >= 0x2000 && c <= 0x206F) ||
                       (c >= 0x2E00 && c <= 0x2E7F) || (c >= 0x3000 && c <= 0x303F) ||
                       (c >= 0xFE10 && c <= 0xFE6F) || (c >= 0xFF00 && c <= 0xFF65);
    return punctuation ? 0 : c;
}

// `text` with every run of Arabic digits without its leading zeros.
std::u16string WithoutLeadingZeros(std::u16string_view text) {
    std::u16string result;
    for (size_t i = 0; i < text.size(); ++i) {
        bool runStart = i == 0 || text[i - 1] < u'0' || text[i - 1] > u'9';
        bool zeroBeforeDigit =
            text[i] == u'0' && i + 1 < text.size() && text[i + 1] >= u'0' && text[i + 1] <= u'9';
        if (runStart && zeroBeforeDigit) {
            // Dropped; the next digit starts the run again.
            continue;
        }
        result += text[i];
    }
    return result;
}

// Reads the leading "第<digits>章" of `key` into its number.
void ReadLeadingNumber(ChapterNameKey& key) {
    const std::u16string& text = key.Text;
    if (text.empty() || text[0] != u'第') {
        return;
    }
    size_t end = 1;
    long long number = 0;
    while (end < text.size() && text[end] >= u'0' && text[end] <= u'9' && end < 19) {
        number = number * 10 + (text[end] - u'0');
        ++end;
    }
    if (end == 1 || end >= text.size() ||
        std::u16string_view(u"章回节").find(text[end]) == std::u16string_view::npos) {
        return;
    }
    key.Number = number;
    key.NumberOnly = end + 1 == text.size();
}

} // namespace

ChapterNameKey MakeChapterNameKey(std::u16string_view name) {
    std::u16string kept;
    for (size_t i = 0; i < name.size();) {
        size_t end = i;
        while (end < name.size() && IsChineseNumeral(name[end])) {
            ++end;
        }
        if (end > i) {
            kept += ArabicOfChinese(name.substr(i, end - i));
            i = end;
            continue;
        }
        if (char16_t c = KeptCharacter(name[i]); c != 0) {
            kept += c;
        }
        ++i;
    }
    ChapterNameKey key;
    key.Text = WithoutLeadingZeros(kept);
    ReadLeadingNumber(key);
    return key;
}

bool SameChapter(const ChapterNameKey& a, const ChapterNameKey& b) {
    if (a.Text == b.Text) {
        return true;
    }
    return a.Number >= 0 && a.Number == b.Number && (a.NumberOnly || b.NumberOnly);
}

std::vector<size_t> MatchChapterNames(const std::vector<std::u16string>& wanted,
                                      const std::vector<std::u16string>& offered) {
    std::vector<ChapterNameKey> keys;
    std::map<std::u16string, std::vector<size_t>> byText;
    std::map<long long, std::vector<size_t>> byNumber;
    for (size_t i = 0; i < offered.size(); ++i) {
        keys.push_back(MakeChapterNameKey(offered[i]));
        byText[keys[i].Text].push_back(i);
        if (keys[i].Number >= 0) {
            byNumber[keys[i].Number].push_back(i);
        }
    }
    std::vector<bool> taken(offered.size(), false);
    auto firstFree = [&](const std::vector<size_t>& positions, const ChapterNameKey& key) {
        for (size_t position : positions) {
            if (!taken[position] && SameChapter(key, keys[position])) {
                return position;
            }
        }
        return kNoChapterMatch;
    };
    std::vector<size_t> matches;
    for (const std::u16string& name : wanted) {
        ChapterNameKey key = MakeChapterNameKey(name);
        size_t match = kNoChapterMatch;
        if (auto same = byText.find(key.Text); same != byText.end()) {
            match = firstFree(same->second, key);
        }
        if (auto numbered = byNumber.find(key.Number);
            match == kNoChapterMatch && numbered != byNumber.end()) {
            match = firstFree(numbered->second, key);
        }
        if (match != kNoChapterMatch) {
            taken[match] = true;
        }
        matches.push_back(match);
    }
    return matches;
}

} // namespace velunor
