#pragma once
// The reader's settings: how library pages show their text (size, line spacing, colours) and
// how far the browser zooms, kept in Config/ReadingSettings.xml. The desktop shell lays a style
// sheet made from them over every library page it shows; the pages on disk stay as written.
// A missing or damaged file reads as the defaults, and a value outside its range is brought
// back into it, so whatever the file holds, the pages stay readable. The file has no lock: the
// window's thread is its only reader and writer. The functions share no state.

#include <string>

namespace velunor {

/// The colours of library pages.
enum class ReadingTheme {
    Day,   ///< 白天: dark text on white
    Sepia, ///< 护眼: dark brown text on warm paper, the templates' own colours
    Night, ///< 夜间: light grey text on near black
};

/// What the reader chose. The defaults are the templates' own look.
struct ReadingSettings {
    /// Size of chapter text, in CSS pixels.
    int FontSize = 20;
    /// Height of a line of chapter text, in percent of its font size.
    int LineSpacing = 190;
    ReadingTheme Theme = ReadingTheme::Sepia;
    /// The browser's zoom, in percent; it scales every page, text and pictures alike.
    int ZoomPercent = 100;
    /// The novel's chapter list stands beside the page while reading.
    bool ChapterList = false;

    bool operator==(const ReadingSettings&) const = default;
};

/// The range each setting is kept in.
inline constexpr int kMinReadingFontSize = 12;
inline constexpr int kMaxReadingFontSize = 48;
inline constexpr int kMinLineSpacing = 100;
inline constexpr int kMaxLineSpacing = 300;
inline constexpr int kMinZoomPercent = 25;
inline constexpr int kMaxZoomPercent = 500;

/// ReadingSettings.xml in the settings folder of the layout of `programFolder` (ending in "/";
/// portable: its Config/).
std::u16string ReadingSettingsPath(const std::u16string& programFolder);

/// The settings the file holds. The defaults when the file is missing, cannot be read or is not
/// well-formed; a field that is missing or not a number keeps its default, and a number outside
/// its range becomes the nearest end of it. Blocks on the disk.
ReadingSettings LoadReadingSettings(const std::u16string& programFolder);

/// Writes `settings` (each brought into its range) to the file, creating the settings folder
/// when it is missing. The old file is replaced only once the new one is written whole. False
/// when it could not be written. Blocks on the disk.
bool SaveReadingSettings(const std::u16string& programFolder, const ReadingSettings& settings);

/// The style sheet that gives library pages the look of `settings`: the chapter text's size
/// and line spacing, the theme's colours for chapter and contents pages, and a first-line indent
/// of two characters for every paragraph of chapter text. It is meant to come after the pages'
/// own style sheets, so that its rules win over theirs. Zoom is not part of it.
std::u16string ReadingStyleSheet(const ReadingSettings& settings);

/// The zoom step after `percent` going in (`ZoomedIn`) or out (`ZoomedOut`), on the steps
/// browsers use (25, 33, 50, 67, 75, 80, 90, 100, 110, 125, 150, 175, 200, 250, 300, 400, 500);
/// a value between steps goes to the neighbouring step, and the last step stays where it is.
int ZoomedIn(int percent);
int ZoomedOut(int percent);

} // namespace velunor
