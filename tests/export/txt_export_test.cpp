// Novels of the library exported as plain text, and the conversion between simplified and
// traditional characters.

#include "export/export.h"
#include "export_fixture.h"

namespace velunor::testing {
namespace {

// The rich novel as its text file must read: the chapters in order under their volumes, each
// name on its own line, a blank line between paragraphs, two before each chapter and three
// before each volume, no markup.
const std::u16string kRichNovelText = u"春江夜话\n"
                                      u"作者：江上客\n"
                                      u"\n江南春夜，<一段>往事。\n"
                                      u"\n第二段简介 & 更多。\n"
                                      u"\n\n\n作品相关\n"
                                      u"\n\n\n第一卷 春&夜\n"
                                      u"\n\n第一章　𠮷日\n"
                                      u"\n𠮷野家的老板笑了😀。\n"
                                      u"\nA & B < C，&、<签>、©、😀。\n"
                                      u"\n第三段\n"
                                      u"\n\n第二章 图\n"
                                      u"\n图前文字\n"
                                      u"\n图中\n"
                                      u"\n图后\n"
                                      u"\n\n第三章 失败\n"
                                      u"\n本章未能下载（目标站返回状态码 404）。\n"
                                      u"\n\n\n第二卷 江上\n"
                                      u"\n\n第四章 A&B <终>\n"
                                      u"\n又见\n"
                                      u"\n。\n"
                                      u"\n\n第五章 未完\n"
                                      u"\n本章尚未下载。\n"
                                      u"\n\n第六章 空章\n"
                                      u"\n本章未能下载（未找到正文）。\n"
                                      u"\n\n\n后记（待续）\n";

class TxtExport : public ExportFixture {
  protected:
    ExportResult Export(const std::u16string& folder, const std::string& file,
                        TextEncoding encoding = TextEncoding::Utf8,
                        ChineseConversion conversion = ChineseConversion::None) {
        ExportOptions options;
        options.Format = ExportFormat::Txt;
        options.Encoding = encoding;
        options.Conversion = conversion;
        return ExportNovel(folder, OutFile(file), options);
    }
};

TEST_F(TxtExport, Utf8TextHoldsExactlyTheChaptersInOrderAfterAByteOrderMark) {
    ExportResult result = Export(WriteNovel(RichNovel()), "rich.txt");
    ASSERT_TRUE(result.Ok) << WideToUtf8(result.Error);
    EXPECT_EQ(result.Chapters, 6);
    EXPECT_EQ(result.Failed, 2);
    EXPECT_EQ(result.Pending, 1);
    std::string bytes = temp_.Read("out/rich.txt");
    ASSERT_TRUE(bytes.starts_with("\xEF\xBB\xBF"));
    EXPECT_EQ(bytes.substr(3), WideToUtf8(kRichNovelText));
    for (const char* markup :
         {"<br", "<p", "<img", "<script", "&amp;", "&lt;", "&nbsp;", "&#", "隐藏文字", "下一章"}) {
        EXPECT_EQ(bytes.find(markup), std::string::npos) << markup;
    }
}

TEST_F(TxtExport, Gb18030TextHoldsCharactersOutsideGbkWithoutAMark) {
    ASSERT_TRUE(Export(WriteNovel(RichNovel()), "rich.txt", TextEncoding::Gb18030).Ok);
    std::string bytes = temp_.Read("out/rich.txt");
    // "春江夜话" as GBK writes it: the file is not UTF-8 with its mark.
    EXPECT_TRUE(bytes.starts_with("\xB4\xBA\xBD\xAD\xD2\xB9\xBB\xB0\n"));
    // 𠮷 (U+20BB7) and 😀 (U+1F600) in GB18030's four-byte form.
    EXPECT_NE(bytes.find("\x95\x34\xB2\x35"), std::string::npos);
    EXPECT_NE(bytes.find("\x94\x39\xFC\x36"), std::string::npos);
    std::u16string text;
    ASSERT_TRUE(DecodeCharset(bytes, "GB18030", text));
    EXPECT_EQ(text, kRichNovelText);
}

TEST_F(TxtExport, ConversionAppliesToNamesAndTextBothWays) {
    TestNovel novel;
    novel.name = u"后来的发展";
    novel.author = u"无名氏";
    novel.intro = u"简体的简介。";
    novel.chapters = {{u"第一章 后来的发展", u"后来的发展出乎意料。"},
                      {u"第二章 失败", u"", ChapterState::Failed, u"无法连接目标站"}};
    novel.volumes = {{1, u"第二卷 后来"}};
    const std::u16string folder = WriteNovel(novel);

    ASSERT_TRUE(
        Export(folder, "t.txt", TextEncoding::Utf8, ChineseConversion::SimplifiedToTraditional).Ok);
    std::u16string traditional = Utf8ToWide(temp_.Read("out/t.txt").substr(3));
    EXPECT_EQ(traditional, u"後來的發展\n作者：無名氏\n\n簡體的簡介。\n"
                           u"\n\n第一章 後來的發展\n\n後來的發展出乎意料。\n"
                           u"\n\n\n第二卷 後來\n"
                           u"\n\n第二章 失敗\n\n本章未能下載（無法連接目標站）。\n");

    TestNovel back = novel;
    back.name = u"後來的發展";
    back.infoUrl = u"http://127.0.0.1:8000/book/9/";
    back.chapters = {{u"第一章 後來的發展", u"後來的發展出乎意料。"}};
    back.volumes = {};
    ASSERT_TRUE(Export(WriteNovel(back), "s.txt", TextEncoding::Utf8,
                       ChineseConversion::TraditionalToSimplified)
                    .Ok);
    EXPECT_EQ(Utf8ToWide(temp_.Read("out/s.txt").substr(3)),
              u"后来的发展\n作者：无名氏\n\n简体的简介。\n"
              u"\n\n第一章 后来的发展\n\n后来的发展出乎意料。\n");
}

TEST(DefaultExportFileName, IsTheConvertedNameMadeSafeWithTheFormatsExtension) {
    ExportOptions epub;
    EXPECT_EQ(DefaultExportFileName(u"春江夜话", epub), u"春江夜话.epub");
    ExportOptions txt;
    txt.Format = ExportFormat::Txt;
    txt.Conversion = ChineseConversion::SimplifiedToTraditional;
    EXPECT_EQ(DefaultExportFileName(u"后来的发展", txt), u"後來的發展.txt");
    EXPECT_EQ(DefaultExportFileName(u"../a/b", epub), u".._a_b.epub");
}

} // namespace
} // namespace velunor::testing
