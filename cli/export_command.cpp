// velunor-cli export: a novel of the bookshelf as an EPUB book or a text file.

#include "cli/export_command.h"

#include "cli/cli_support.h"
#include "cli/console_port.h"
#include "core/core.h"
#include "export/export.h"
#include "library/library.h"

#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace velunor::cli {
namespace {

constexpr std::u16string_view kUsage =
    u"usage: velunor-cli export N --format epub|txt [--to FILE] [--convert s2t|t2s] "
    u"[--encoding utf-8|gb18030]";

struct ExportArguments {
    std::string novel;
    std::optional<ExportFormat> format;
    std::string target;
    ChineseConversion conversion = ChineseConversion::None;
    std::optional<TextEncoding> encoding;
};

std::optional<ExportFormat> FormatNamed(std::string_view name) {
    if (name == "epub") {
        return ExportFormat::Epub;
    }
    if (name == "txt") {
        return ExportFormat::Txt;
    }
    return std::nullopt;
}

std::optional<ChineseConversion> ConversionNamed(std::string_view name) {
    if (name == "s2t") {
        return ChineseConversion::SimplifiedToTraditional;
    }
    if (name == "t2s") {
        return ChineseConversion::TraditionalToSimplified;
    }
    if (name == "none") {
        return ChineseConversion::None;
    }
    return std::nullopt;
}

std::optional<TextEncoding> EncodingNamed(std::string_view name) {
    if (name == "utf-8" || name == "utf8") {
        return TextEncoding::Utf8;
    }
    if (name == "gb18030") {
        return TextEncoding::Gb18030;
    }
    return std::nullopt;
}

// Reads the option `name` with its `value` into `arguments`; false, having said why, for an
// unknown option or value.
bool TakeOption(std::string_view name, std::string_view value, ExportArguments& arguments) {
    bool known = true;
    if (name == "--format") {
        arguments.format = FormatNamed(value);
        known = arguments.format.has_value();
    } else if (name == "--to") {
        arguments.target = std::string(value);
        known = !value.empty();
    } else if (name == "--convert") {
        std::optional<ChineseConversion> conversion = ConversionNamed(value);
        known = conversion.has_value();
        arguments.conversion = conversion.value_or(ChineseConversion::None);
    } else if (name == "--encoding") {
        arguments.encoding = EncodingNamed(value);
        known = arguments.encoding.has_value();
    } else {
        PrintError(u"unknown option \"" + Wide(name) + u"\"");
        return false;
    }
    if (!known) {
        PrintError(u"\"" + Wide(value) + u"\" is not a value of " + Wide(name));
    }
    return known;
}

bool ParseArguments(int argc, char** argv, ExportArguments& arguments) {
    if (argc < 3) {
        return false;
    }
    arguments.novel = argv[2];
    for (int i = 3; i < argc; i += 2) {
        if (i + 1 >= argc) {
            PrintError(u"option \"" + Wide(argv[i]) + u"\" needs a value");
            return false;
        }
        if (!TakeOption(argv[i], argv[i + 1], arguments)) {
            return false;
        }
    }
    if (!arguments.format) {
        PrintError(u"--format epub or --format txt is required");
        return false;
    }
    if (arguments.encoding && *arguments.format == ExportFormat::Epub) {
        PrintError(u"--encoding applies to --format txt only (an EPUB is always UTF-8)");
        return false;
    }
    return true;
}

// The novel item that `text` numbers; -1, having said so, when it numbers none.
int NovelItem(const std::string& text, const CBookShelfModel& model) {
    int item = ParseItemIndex(text, model.ItemCount());
    if (item < 0) {
        PrintError(u"\"" + Wide(text) +
                   u"\" is not a novel of the bookshelf (see velunor-cli shelf)");
    }
    return item;
}

} // namespace

int RunExport(int argc, char** argv) {
    ExportArguments arguments;
    if (!ParseArguments(argc, argv, arguments)) {
        PrintError(kUsage);
        return 2;
    }
    CBookShelfModel model(GetProgramFolder());
    model.LoadBookShelf();
    int item = NovelItem(arguments.novel, model);
    if (item < 0) {
        return 2;
    }
    ExportOptions options;
    options.Format = *arguments.format;
    options.Conversion = arguments.conversion;
    options.Encoding = arguments.encoding.value_or(TextEncoding::Utf8);
    const std::u16string folder = model.NovelFolder(item);
    std::string target = arguments.target;
    if (target.empty()) {
        target = WideToUtf8(DefaultExportFileName(ExportedNovelName(folder), options));
    }
    ConsolePort window;
    ExportResult result = RunExportJob(window, folder, ResolveArgumentPath(target), options);
    return result.Ok ? 0 : 1;
}

} // namespace velunor::cli
