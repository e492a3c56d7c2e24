#pragma once
// Chapter pages for the reader's tests, written as the download writes them: from the shipped
// chapter template, by the library's own page composer and writer; and questions to the page a
// browser shows, asked in the program's own world as the shell asks them.

#include "core/core.h"
#include "library/library_layout.h"

#include <QDir>
#include <QString>
#include <QTest>
#include <QVariant>
#include <QWebEnginePage>
#include <QWebEngineScript>

#include <memory>
#include <optional>
#include <string>

namespace velunor::testing {

/// Writes chapter `n` (from 1) of a novel of `count` chapters into `novelFolder` as "n.html",
/// titled "第n章", holding `text`, its "上一章" and "下一章" links leading on as the library
/// links them (the contents page before the first and after the last). Returns its path; empty
/// when it could not be written.
inline QString WriteChapterPage(const QString& novelFolder, int n, int count,
                                const std::u16string& text) {
    if (!QDir().mkpath(novelFolder)) {
        return {};
    }
    std::u16string encoding(kPageEncoding);
    std::u16string pageTemplate;
    if (!ReadPage(encoding, u"" VELUNOR_SOURCE_DATA "/Template/ContentPage.html", pageTemplate)) {
        return {};
    }
    const std::u16string path = novelFolder.toStdU16String() + u"/" + ChapterPageName(n);
    ChapterPageFields fields;
    fields.RuleFile = u"00-demo.xml";
    fields.ChapterUrl = u"http://127.0.0.1/book/" + DecimalText(n) + u".html";
    fields.PageFile = path;
    fields.NovelName = u"星河旅人";
    fields.ChapterName = u"第" + DecimalText(n) + u"章";
    fields.PrevPage = n == 1 ? std::u16string(kContentsPageName) : ChapterPageName(n - 1);
    fields.NextPage = n == count ? std::u16string(kContentsPageName) : ChapterPageName(n + 1);
    const std::u16string page = ComposeChapterPage(pageTemplate, fields, kStateStored, text);
    if (!WritePage(encoding, path, page)) {
        return {};
    }
    return QString::fromStdU16String(path);
}

/// Chapter text long enough to fill several screens: `lines` lines between line breaks, each
/// led by four no-break spaces, as many sites write it.
inline std::u16string LongChapterText(int lines) {
    std::u16string text;
    for (int i = 1; i <= lines; ++i) {
        text +=
            u"&nbsp;&nbsp;&nbsp;&nbsp;第" + DecimalText(i) + u"行，江水向东流去。<br /><br />\n";
    }
    return text;
}

/// What `script` answers in the program's world of the page `page` shows; invalid when it has
/// not answered within 10 s. Runs the event loop meanwhile.
inline QVariant Evaluate(QWebEnginePage& page, const QString& script) {
    auto answer = std::make_shared<std::optional<QVariant>>();
    page.runJavaScript(script, QWebEngineScript::ApplicationWorld,
                       [answer](const QVariant& value) { *answer = value; });
    if (!QTest::qWaitFor([&] { return answer->has_value(); }, 10000)) {
        return {};
    }
    return **answer;
}

/// The computed value of the CSS `property` (as JavaScript names it) of the first element that
/// `selector` finds in the page.
inline QString ComputedStyle(QWebEnginePage& page, const QString& selector,
                             const QString& property) {
    return Evaluate(page, QStringLiteral("getComputedStyle(document.querySelector('%1'))['%2']")
                              .arg(selector, property))
        .toString();
}

} // namespace velunor::testing
