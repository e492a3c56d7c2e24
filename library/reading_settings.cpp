#include "library/reading_settings.h"

#include "core/core.h"
#include "core/folder_layout.h"
#include "library/internal/settings_field.h"
#include "xml/xml_document.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace velunor {

namespace {

constexpr const char16_t* kFontSizeElement = u"FontSize";
constexpr const char16_t* kLineSpacingElement = u"LineSpacing";
constexpr const char16_t* kThemeElement = u"Theme";
constexpr const char16_t* kZoomElement = u"Zoom";
constexpr const char16_t* kChapterListElement = u"ChapterList";
constexpr std::u16string_view kNewSettingsFile =
    u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<ReadingSettings>\r\n</ReadingSettings>\r\n";

struct ThemeName {
    ReadingTheme theme;
    std::u16string_view name;
};

constexpr std::array<ThemeName, 3> kThemeNames{{
    {ReadingTheme::Day, u"day"},
    {ReadingTheme::Sepia, u"sepia"},
    {ReadingTheme::Night, u"night"},
}};

constexpr std::array<int, 17> kZoomSteps{25,  33,  50,  67,  75,  80,  90,  100, 110,
                                         125, 150, 175, 200, 250, 300, 400, 500};

// The colours of one theme, as CSS colour values.
struct Palette {
    std::u16string_view page;
    std::u16string_view text;
    std::u16string_view quiet;
    std::u16string_view buttonFace;
    std::u16string_view buttonEdge;
    std::u16string_view buttonText;
    std::u16string_view accent;
    std::u16string_view tableLines;
    std::u16string_view cell;
};

constexpr Palette kDayPalette{u"#ffffff", u"#222222", u"#888888", u"#f6f6f6", u"#dddddd",
                              u"#444444", u"#a0522d", u"#dddddd", u"#ffffff"};
constexpr Palette kSepiaPalette{u"#f5efe3", u"#2a2621", u"#8c806c", u"#fbf8f1", u"#d9ccb2",
                                u"#5a4730", u"#9a5b2a", u"#e3d8c3", u"#fffdf8"};
constexpr Palette kNightPalette{u"#1c1d1f", u"#a9a7a1", u"#6f6d68", u"#26282b", u"#3a3c40",
                                u"#b8b3a8", u"#c58b57", u"#3a3c40", u"#222427"};

const Palette& PaletteOf(ReadingTheme theme) {
    switch (theme) {
    case ReadingTheme::Day:
        return kDayPalette;
    case ReadingTheme::Night:
        return kNightPalette;
    case ReadingTheme::Sepia:
        break;
    }
    return kSepiaPalette;
}

// A field's number, or -1 when it holds anything but one to four decimal digits.
int SmallNumber(std::u16string_view text) {
    if (text.empty() || text.size() > 4) {
        return -1;
    }
    int value = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') {
            return -1;
        }
        value = value * 10 + (c - u'0');
    }
    return value;
}

void ReadNumber(std::u16string_view text, int low, int high, int& value) {
    const int number = SmallNumber(text);
    if (number >= 0) {
        value = std::clamp(number, low, high);
    }
}

void ReadTheme(std::u16string_view text, ReadingTheme& theme) {
    for (const ThemeName& entry : kThemeNames) {
        if (entry.name == text) {
            theme = entry.theme;
        }
    }
}

std::u16string_view ThemeKey(ReadingTheme theme) {
    for (const ThemeName& entry : kThemeNames) {
        if (entry.theme == theme) {
            return entry.name;
        }
    }
    return kThemeNames[1].name;
}

ReadingSettings InRange(ReadingSettings settings) {
    settings.FontSize = std::clamp(settings.FontSize, kMinReadingFontSize, kMaxReadingFontSize);
    settings.LineSpacing = std::clamp(settings.LineSpacing, kMinLineSpacing, kMaxLineSpacing);
    settings.ZoomPercent = std::clamp(settings.ZoomPercent, kMinZoomPercent, kMaxZoomPercent);
    return settings;
}

// 190 percent is the CSS line height "1.90".
std::u16string PercentAsFactor(int percent) {
    const int hundredths = percent % 100;
    std::u16string fraction = DecimalText(hundredths);
    if (hundredths < 10) {
        fraction = u"0" + fraction;
    }
    return DecimalText(percent / 100) + u"." + fraction;
}

// Declarations are written "property: value;", one space between two of them.
std::u16string Rule(std::u16string_view selectors, std::u16string_view declarations) {
    if (!declarations.empty() && declarations.back() == u' ') {
        declarations.remove_suffix(1);
    }
    return std::u16string(selectors) + u" { " + std::u16string(declarations) + u" }\n";
}

std::u16string Colour(std::u16string_view property, std::u16string_view value) {
    return std::u16string(property) + u": " + std::u16string(value) + u"; ";
}

std::u16string ThemeRules(const Palette& colours) {
    std::u16string css;
    css +=
        Rule(u"html, body", Colour(u"background", colours.page) + Colour(u"color", colours.text));
    css += Rule(u"h1", Colour(u"color", colours.text));
    css += Rule(u".novel, .hint, .refetch", Colour(u"color", colours.quiet));
    css += Rule(u".nav a", Colour(u"background", colours.buttonFace) +
                               Colour(u"border-color", colours.buttonEdge) +
                               Colour(u"color", colours.buttonText));
    css += Rule(u".nav a:hover", Colour(u"background", colours.buttonEdge));
    css += Rule(u".refetch a, .notice", Colour(u"color", colours.accent));
    css += Rule(u"table.contents", Colour(u"background", colours.tableLines));
    css += Rule(u"table.contents td", Colour(u"background", colours.cell));
    css += Rule(u"table.contents a", Colour(u"color", colours.text));
    css += Rule(u"table.contents a:hover", Colour(u"color", colours.accent));
    // The browser's own scroll bar is light grey whatever the page; it takes the page's colours.
    css += Rule(u"::-webkit-scrollbar",
                u"width: 12px; height: 12px; " + Colour(u"background", colours.page));
    css += Rule(u"::-webkit-scrollbar-thumb",
                Colour(u"background", colours.buttonEdge) + u"border: 3px solid " +
                    std::u16string(colours.page) + u"; border-radius: 6px;");
    return css;
}

// Chapter text arrives from sites as paragraphs or as lines between line breaks; the shell turns
// the lines into paragraphs too, so one indent rule serves both. A picture standing alone, and
// the page's own notices, are not indented.
std::u16string TextRules(const ReadingSettings& settings) {
    std::u16string css;
    css += Rule(u".text, #chapter_text", u"font-size: " + DecimalText(settings.FontSize) +
                                             u"px; line-height: " +
                                             PercentAsFactor(settings.LineSpacing) + u";");
    css += Rule(u".text p, #chapter_text p", u"text-indent: 2em; margin: 0 0 0.6em;");
    css += Rule(u".text p.notice, #chapter_text p.notice, .text p.picture, #chapter_text p.picture",
                u"text-indent: 0; text-align: center;");
    return css;
}

} // namespace

std::u16string ReadingSettingsPath(const std::u16string& programFolder) {
    return FolderLayoutFor(programFolder).ConfigFolder + u"ReadingSettings.xml";
}

ReadingSettings LoadReadingSettings(const std::u16string& programFolder) {
    ReadingSettings settings;
    CXmlDocument document;
    // A file that is not whole may hold anything where a field seems to be: defaults only.
    if (!document.LoadFile(ReadingSettingsPath(programFolder), kConfigFileLimit)) {
        return settings;
    }
    ReadNumber(internal::SettingsFieldText(document, kFontSizeElement), kMinReadingFontSize,
               kMaxReadingFontSize, settings.FontSize);
    ReadNumber(internal::SettingsFieldText(document, kLineSpacingElement), kMinLineSpacing,
               kMaxLineSpacing, settings.LineSpacing);
    ReadTheme(internal::SettingsFieldText(document, kThemeElement), settings.Theme);
    ReadNumber(internal::SettingsFieldText(document, kZoomElement), kMinZoomPercent,
               kMaxZoomPercent, settings.ZoomPercent);
    settings.ChapterList = internal::SettingsFieldText(document, kChapterListElement) == u"1";
    return settings;
}

bool SaveReadingSettings(const std::u16string& programFolder, const ReadingSettings& settings) {
    const ReadingSettings kept = InRange(settings);
    CXmlDocument document(kNewSettingsFile);
    document.FindElement();
    document.EnterElement();
    document.AddElement(kFontSizeElement, DecimalText(kept.FontSize));
    document.AddElement(kLineSpacingElement, DecimalText(kept.LineSpacing));
    document.AddElement(kThemeElement, ThemeKey(kept.Theme));
    document.AddElement(kZoomElement, DecimalText(kept.ZoomPercent));
    document.AddElement(kChapterListElement, kept.ChapterList ? u"1" : u"0");
    if (!CreateFolderPath(FolderLayoutFor(programFolder).ConfigFolder)) {
        return false;
    }
    return document.SaveFile(ReadingSettingsPath(programFolder));
}

std::u16string ReadingStyleSheet(const ReadingSettings& settings) {
    const ReadingSettings kept = InRange(settings);
    return ThemeRules(PaletteOf(kept.Theme)) + TextRules(kept);
}

int ZoomedIn(int percent) {
    for (int step : kZoomSteps) {
        if (step > percent) {
            return step;
        }
    }
    return kZoomSteps.back();
}

int ZoomedOut(int percent) {
    for (auto step = kZoomSteps.rbegin(); step != kZoomSteps.rend(); ++step) {
        if (*step < percent) {
            return *step;
        }
    }
    return kZoomSteps.front();
}

} // namespace velunor
