#include "app/command_ids.h"
#include "app/dlg_html.h"
#include "browser_test_main.h"
#include "core/core.h"
#include "library/library_layout.h"
#include "library/reading_settings.h"
#include "library_pages.h"
#include "xml/xml_document.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWebEnginePage>

#include <future>
#include <memory>
#include <optional>

using namespace velunor;

namespace {

template <typename T> bool Ready(const std::future<T>& future) {
    return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

QList<int> Commands(const QSignalSpy& spy) {
    QList<int> commands;
    for (const QList<QVariant>& arguments : spy) {
        commands.append(arguments.at(0).toInt());
    }
    return commands;
}

} // namespace

class BrowserPanelTest : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir pages_;
    std::unique_ptr<CDlgHtml> panel_;
    int pageCount_ = 0;

    CHtmlCtrl& Browser() {
        return panel_->Browser();
    }

    QString WritePage(const QByteArray& html) {
        const QString path = pages_.filePath(QStringLiteral("page%1.html").arg(++pageCount_));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)) {
            qFatal("cannot write %s", qPrintable(path));
        }
        file.write(html);
        return path;
    }

    void Load(const QUrl& url) {
        QSignalSpy loaded(&Browser(), &CHtmlCtrl::loadFinished);
        Browser().load(url);
        QVERIFY(loaded.wait(10000));
        QCOMPARE(Browser().url(), url);
    }

    // A page that is one link from edge to edge, so a click anywhere opens it.
    void LoadLinkPage(const QByteArray& href) {
        Load(QUrl::fromLocalFile(WritePage(
            "<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body style=\"margin:0\">"
            "<a href=\"" +
            href +
            "\" style=\"position:fixed;left:0;top:0;right:0;bottom:0\">link</a>"
            "</body></html>")));
    }

    // Clicks the link and waits until the browser has handled the address it opens.
    void ClickLinkTo(const QString& expectedText) {
        QTest::mouseClick(Browser().focusProxy(), Qt::LeftButton, {}, QPoint(100, 100));
        QTRY_COMPARE_WITH_TIMEOUT(Browser().LastAppCommand(), expectedText, 10000);
        QCoreApplication::processEvents();
    }

    QString ChapterPage() const {
        return QStringLiteral(VELUNOR_APP_TEST_PAGES "/chapter_gb2312.html");
    }

    QString LibraryFolder() const {
        return pages_.filePath(QStringLiteral("Novel")) + QLatin1Char('/');
    }

    QString NovelFolder() const {
        return LibraryFolder() + QStringLiteral("书库/星河旅人");
    }

    // Chapters 1 to `count` of the novel, and its contents page; the path of chapter 1.
    QString WriteNovel(int count, const std::u16string& text) {
        for (int n = 1; n <= count; ++n) {
            if (testing::WriteChapterPage(NovelFolder(), n, count, text).isEmpty()) {
                qFatal("cannot write chapter %d", n);
            }
        }
        QFile contents(NovelFolder() + QStringLiteral("/ContentsPage.html"));
        if (!contents.open(QIODevice::WriteOnly)) {
            qFatal("cannot write the contents page");
        }
        contents.write("<html><body>contents</body></html>");
        return Chapter(1);
    }

    QString Chapter(int n) const {
        return NovelFolder() + QStringLiteral("/%1.html").arg(n);
    }

    QVariant Evaluate(const QString& script) {
        return testing::Evaluate(*Browser().page(), script);
    }

    QString ComputedStyle(const QString& selector, const QString& property) {
        return testing::ComputedStyle(*Browser().page(), selector, property);
    }

    // The keys reach the panel only while its browser has the focus.
    void FocusBrowser() {
        QApplication::setActiveWindow(panel_.get());
        Browser().setFocus();
        QTRY_VERIFY(Browser().focusProxy() != nullptr && Browser().focusProxy()->hasFocus());
    }

    void Press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(Browser().focusProxy(), static_cast<Qt::Key>(key), modifiers);
    }

    // Presses the key and returns once the browser has shown `path`.
    void PressFor(const QString& path, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QSignalSpy loaded(&Browser(), &CHtmlCtrl::loadFinished);
        Press(key, modifiers);
        QTRY_VERIFY_WITH_TIMEOUT(!loaded.isEmpty(), 10000);
        QCOMPARE(Browser().url(), QUrl::fromLocalFile(path));
    }

    // A key that should open nothing: once the page has answered a later question, any page
    // the key asked for would be loading.
    void PressForNothing(int key) {
        const QUrl shown = Browser().url();
        Press(key);
        QCOMPARE(Evaluate(QStringLiteral("1")).toInt(), 1);
        QCoreApplication::processEvents();
        QVERIFY(!Browser().page()->isLoading());
        QCOMPARE(Browser().url(), shown);
    }

    int ScrollTop() {
        return Evaluate(QStringLiteral("window.scrollY")).toInt();
    }

  private slots:
    void initTestCase() {
        QVERIFY(pages_.isValid());
    }

    void init() {
        panel_ = std::make_unique<CDlgHtml>();
        panel_->resize(800, 600);
        panel_->show();
        QVERIFY(QTest::qWaitForWindowExposed(panel_.get()));
    }

    void cleanup() {
        panel_.reset();
    }

    void RecommendLinkSearchesForTheName() {
        QSignalSpy posted(&Browser(), &CHtmlCtrl::CommandPosted);
        QSignalSpy recommended(panel_.get(), &CDlgHtml::RecommendRequested);
        LoadLinkPage("app:recommend/星河旅人");
        const QUrl page = Browser().url();
        ClickLinkTo(QStringLiteral("recommend/星河旅人"));
        QCOMPARE(Commands(posted), QList<int>{kIdRecommend});
        QTRY_COMPARE(recommended.count(), 1);
        QCOMPARE(recommended.at(0).at(0).toString(), QStringLiteral("星河旅人"));
        // The browser stays on its page.
        QCOMPARE(Browser().url(), page);
    }

    void PrefixIgnoresCaseAndNamesDoNot() {
        QSignalSpy posted(&Browser(), &CHtmlCtrl::CommandPosted);
        QSignalSpy restDown(panel_.get(), &CDlgHtml::RestDownRequested);
        LoadLinkPage("APP:rest_down");
        ClickLinkTo(QStringLiteral("rest_down"));
        QCOMPARE(Commands(posted), QList<int>{kIdRestDown});
        QTRY_COMPARE(restDown.count(), 1);

        posted.clear();
        LoadLinkPage("app:Rest_Down");
        ClickLinkTo(QStringLiteral("Rest_Down"));
        QCOMPARE(posted.count(), 0);
    }

    void EveryMatchingCommandIsPostedInTableOrder() {
        QSignalSpy posted(&Browser(), &CHtmlCtrl::CommandPosted);
        QSignalSpy recommended(panel_.get(), &CDlgHtml::RecommendRequested);
        LoadLinkPage("app:recommend/rest_down");
        ClickLinkTo(QStringLiteral("recommend/rest_down"));
        QCOMPARE(Commands(posted), (QList<int>{kIdRestDown, kIdRecommend}));
        QTRY_COMPARE(recommended.count(), 1);
        QCOMPARE(recommended.at(0).at(0).toString(), QStringLiteral("rest_down"));
    }

    void OrdinaryLinksAreFollowed() {
        const QString target = WritePage("<html><body>next</body></html>");
        LoadLinkPage(QUrl::fromLocalFile(target).toEncoded());
        QSignalSpy loaded(&Browser(), &CHtmlCtrl::loadFinished);
        QTest::mouseClick(Browser().focusProxy(), Qt::LeftButton, {}, QPoint(100, 100));
        QVERIFY(loaded.wait(10000));
        QCOMPARE(Browser().url(), QUrl::fromLocalFile(target));
    }

    void PagesCannotSendCommandsByThemselves() {
        QSignalSpy posted(&Browser(), &CHtmlCtrl::CommandPosted);
        // A frame loads while its page loads; a script would run then too.
        Load(QUrl::fromLocalFile(
            WritePage("<html><head><title>quiet</title></head><body>"
                      "<iframe src=\"app:rest_down\"></iframe>"
                      "<script>document.title = 'ran'; location.href = 'app:recommend/x';</script>"
                      "</body></html>")));
        QCoreApplication::processEvents();
        QCOMPARE(posted.count(), 0);
        QCOMPARE(Browser().LastAppCommand(), QString());
        QCOMPARE(Browser().title(), QStringLiteral("quiet"));
    }

    void InnerHtmlFromAWorkerIsWhatThePageHolds() {
        Load(QUrl::fromLocalFile(ChapterPage()));
        auto fields = std::async(std::launch::async, [this] {
            return std::array{panel_->GetElementInnerHtml(u"chapter_url"),
                              panel_->GetElementInnerHtml(u"chapter_save_file"),
                              panel_->GetElementInnerHtml(u"down_state"),
                              panel_->GetElementInnerHtml(u"no_such_field"),
                              panel_->GetElementInnerHtml(u"x\")+(\"")};
        });
        QTRY_VERIFY_WITH_TIMEOUT(Ready(fields), 10000);
        const auto texts = fields.get();
        QCOMPARE(texts[0], std::u16string(u"http://127.0.0.1/book/1.html?a=1&amp;b=2"));
        QCOMPARE(texts[1], std::u16string(u"/tmp/Novel/书库/星河旅人/1.html"));
        QCOMPARE(texts[2], std::u16string(u"0"));
        QVERIFY(texts[3].empty());
        QVERIFY(texts[4].empty());
        // The GUI thread may ask too.
        QCOMPARE(panel_->GetElementInnerHtml(u"rule_file_path"),
                 std::u16string(u"Rule/00-demo.xml"));
    }

    // A chapter of a UTF-8 site with characters GBK lacks, written from the shipped template by
    // the library's own page writer: once as the download writes it, and once into a page written
    // earlier with a gb2312 label, as the reload link fills it in.
    void CharactersOutsideGbkShowAsWritten_data() {
        QTest::addColumn<bool>("writtenEarlier");
        QTest::newRow("downloaded") << false;
        QTest::newRow("earlier page reloaded") << true;
    }

    void CharactersOutsideGbkShowAsWritten() {
        QFETCH(bool, writtenEarlier);
        const std::u16string chapterName = u"第二章 𠮷字碑";
        const std::u16string chapterText = u"碑上只刻着一个字：𠮷，旁边画着😀。";
        const QString folder = pages_.filePath(QStringLiteral("Novel/书库/星河渡𠮷"));
        QVERIFY(QDir().mkpath(folder));
        const std::u16string path = (folder + QStringLiteral("/2.html")).toStdU16String();

        std::u16string encoding(kPageEncoding);
        std::u16string page;
        QVERIFY(ReadPage(encoding, u"" VELUNOR_SOURCE_DATA "/Template/ContentPage.html", page));
        ReplaceAll(page, kRuleFilePathPlaceholder, HiddenFieldText(u"Rule/01-demo-utf8.xml"));
        ReplaceAll(page, kChapterUrlPlaceholder, HiddenFieldText(u"http://127.0.0.1/2.html"));
        ReplaceAll(page, kChapterSaveFilePlaceholder, HiddenFieldText(path));
        ReplaceAll(page, kNovelNamePlaceholder, u"星河渡");
        ReplaceAll(page, kChapterNamePlaceholder, chapterName);
        ReplaceAll(page, kPrevChapterUrlPlaceholder, u"1.html");
        ReplaceAll(page, kNextChapterUrlPlaceholder, u"3.html");
        if (writtenEarlier) {
            ReplaceAll(page, u"charset=gb18030", u"charset=gb2312");
            QVERIFY(page.find(u"charset=gb2312") != std::u16string::npos);
            ReplaceAll(page, kDownStatePlaceholder, kStateNoText);
            std::u16string earlierEncoding = u"GB2312";
            QVERIFY(CXmlDocument::WriteWideAsText(page, path, nullptr, nullptr, &earlierEncoding));
            QVERIFY(ReadPage(encoding, path, page));
            ReplaceAll(page, DownStateElement(kStateNoText), DownStateElement(kStateStored));
        } else {
            ReplaceAll(page, kDownStatePlaceholder, kStateStored);
        }
        ReplaceAll(page, kChapterContentPlaceholder, chapterText);
        QVERIFY(velunor::WritePage(encoding, path, page));

        Load(QUrl::fromLocalFile(QString::fromStdU16String(path)));
        // Shared with the callback, which may still come after a timed-out wait.
        auto shownText = std::make_shared<std::optional<QString>>();
        Browser().page()->toPlainText([shownText](const QString& text) { *shownText = text; });
        QTRY_VERIFY_WITH_TIMEOUT(shownText->has_value(), 10000);
        const QString shown = **shownText;
        const QStringList lines = shown.split(QLatin1Char('\n'));
        QVERIFY2(lines.contains(QString::fromStdU16String(chapterName)), qPrintable(shown));
        QVERIFY2(lines.contains(QString::fromStdU16String(chapterText)), qPrintable(shown));
        QVERIFY2(lines.contains(QStringLiteral("星河渡")), qPrintable(shown));
        // The reload link finds the page again through the path the page holds.
        QCOMPARE(HiddenFieldValue(panel_->GetElementInnerHtml(u"chapter_save_file")), path);
    }

    void NavigateAsyncFromAWorkerReturnsAtOnce() {
        Load(QUrl::fromLocalFile(
            WritePage("<html><body><div id=\"which\">first</div></body></html>")));
        const QUrl first = Browser().url();
        const QString second =
            WritePage("<html><body><div id=\"which\">second</div></body></html>");
        QSignalSpy loaded(&Browser(), &CHtmlCtrl::loadFinished);
        auto call = std::async(std::launch::async,
                               [this, &second] { panel_->NavigateAsync(second.toStdU16String()); });
        // The GUI thread serves nothing meanwhile, so the call cannot have waited for it.
        QVERIFY(call.wait_for(std::chrono::seconds(5)) == std::future_status::ready);
        QCOMPARE(Browser().url(), first);
        QVERIFY(loaded.wait(10000));
        QCOMPARE(Browser().url(), QUrl::fromLocalFile(second));
        QCOMPARE(panel_->GetElementInnerHtml(u"which"), std::u16string(u"second"));
    }

    void WaitPageComesFromTheCurrentDirectory() {
        QDir().mkpath(pages_.filePath(QStringLiteral("Template")));
        QFile wait(pages_.filePath(QStringLiteral("Template/wait.html")));
        QVERIFY(wait.open(QIODevice::WriteOnly));
        wait.write("<html><body>wait</body></html>");
        wait.close();
        const QString previous = QDir::currentPath();
        QDir::setCurrent(pages_.path());
        QSignalSpy loaded(&Browser(), &CHtmlCtrl::loadFinished);
        panel_->ShowWaitPage();
        QDir::setCurrent(previous);
        QVERIFY(loaded.wait(10000));
        QCOMPARE(Browser().url(), QUrl::fromLocalFile(wait.fileName()));
    }

    // No band of the panel's own background along the right and bottom edges.
    void BrowserFillsThePanel() {
        panel_->resize(640, 480);
        QCOMPARE(Browser().geometry(), QRect(0, 0, 640, 480));
        QCOMPARE(Browser().contextMenuPolicy(), Qt::NoContextMenu);
    }

    // ← and → follow the page's own links, whatever their targets are called; the first
    // chapter's "上一章" leads to the contents, which has no chapter links to follow.
    void ArrowKeysFollowTheChapterLinks() {
        WriteNovel(3, u"<p>正文</p>");
        Load(QUrl::fromLocalFile(Chapter(2)));
        QCOMPARE(Browser().title(), QStringLiteral("第2章"));
        FocusBrowser();
        PressFor(Chapter(3), Qt::Key_Right);
        QCOMPARE(Browser().title(), QStringLiteral("第3章"));
        PressFor(Chapter(2), Qt::Key_Left);
        PressFor(Chapter(1), Qt::Key_Left);
        // The first and the last chapter lead to the contents page: the arrows stop there and
        // say so.
        QSignalSpy notices(panel_.get(), &CDlgHtml::Notice);
        PressForNothing(Qt::Key_Left);
        PressFor(Chapter(2), Qt::Key_Right);
        PressFor(Chapter(3), Qt::Key_Right);
        PressForNothing(Qt::Key_Right);
        QCOMPARE(notices, QList<QList<QVariant>>(
                              {{QStringLiteral("已是第一章")}, {QStringLiteral("已是最后一章")}}));
        // A page without chapter links (the contents page) opens nothing either.
        Load(QUrl::fromLocalFile(NovelFolder() + QStringLiteral("/ContentsPage.html")));
        PressForNothing(Qt::Key_Left);
        PressForNothing(Qt::Key_Right);
    }

    // Space and PageDown read on down the page, and past its end into the next chapter.
    void SpaceScrollsAndTurnsThePageAtItsEnd() {
        WriteNovel(2, testing::LongChapterText(200));
        Load(QUrl::fromLocalFile(Chapter(1)));
        FocusBrowser();
        Press(Qt::Key_Space);
        QTRY_VERIFY_WITH_TIMEOUT(ScrollTop() > 0, 10000);
        const int afterSpace = ScrollTop();
        Press(Qt::Key_PageDown);
        QTRY_VERIFY_WITH_TIMEOUT(ScrollTop() > afterSpace, 10000);
        QCOMPARE(Browser().url(), QUrl::fromLocalFile(Chapter(1)));
        Evaluate(QStringLiteral("window.scrollTo(0, document.scrollingElement.scrollHeight)"));
        PressFor(Chapter(2), Qt::Key_Space);
    }

    // Back never lands on the waiting page: it stood in for a contents page being made.
    void BackKeysGoBackPastTheWaitingPage() {
        WriteNovel(3, u"<p>正文</p>");
        QDir().mkpath(pages_.filePath(QStringLiteral("Template")));
        const QString wait = pages_.filePath(QStringLiteral("Template/wait.html"));
        QFile waitPage(wait);
        QVERIFY(waitPage.open(QIODevice::WriteOnly));
        waitPage.write("<html><body>wait</body></html>");
        waitPage.close();
        Load(QUrl::fromLocalFile(Chapter(1)));
        Load(QUrl::fromLocalFile(wait));
        Load(QUrl::fromLocalFile(Chapter(3)));
        FocusBrowser();
        PressFor(Chapter(1), Qt::Key_Backspace);
        PressForNothing(Qt::Key_Backspace);
        PressFor(Chapter(2), Qt::Key_Right);
        PressFor(Chapter(1), Qt::Key_Left, Qt::AltModifier);
    }

    void F5ShowsThePageAsItIsNowOnDisk() {
        WriteNovel(1, u"<p>旧的正文</p>");
        Load(QUrl::fromLocalFile(Chapter(1)));
        FocusBrowser();
        testing::WriteChapterPage(NovelFolder(), 1, 1, u"<p>新的正文</p>");
        PressFor(Chapter(1), Qt::Key_F5);
        QVERIFY(Evaluate(QStringLiteral("document.body.innerText"))
                    .toString()
                    .contains(QStringLiteral("新的正文")));
    }

    // Zoom steps as browsers step it, and the panel says where it went, so it can be kept.
    void ZoomKeysStepAndReport() {
        Load(QUrl::fromLocalFile(WritePage("<html><body>zoom</body></html>")));
        FocusBrowser();
        QSignalSpy zoomed(panel_.get(), &CDlgHtml::ZoomChanged);
        Press(Qt::Key_Equal, Qt::ControlModifier);
        Press(Qt::Key_Minus, Qt::ControlModifier);
        Press(Qt::Key_Minus, Qt::ControlModifier);
        Press(Qt::Key_0, Qt::ControlModifier);
        Press(Qt::Key_0, Qt::ControlModifier);
        QList<int> steps;
        for (const QList<QVariant>& arguments : zoomed) {
            steps.append(arguments.at(0).toInt());
        }
        QCOMPARE(steps, (QList<int>{110, 100, 90, 100}));
        QCOMPARE(panel_->ZoomPercent(), 100);
    }

    // The look is laid over library pages only, and a change reaches the page shown at once.
    void LibraryLookChangesTheShownPageAtOnce() {
        WriteNovel(1, u"<p>正文</p>");
        panel_->SetLibraryLook(LibraryFolder(), QString::fromStdU16String(ReadingStyleSheet(
                                                    {24, 190, ReadingTheme::Night, 100})));
        Load(QUrl::fromLocalFile(Chapter(1)));
        QCOMPARE(ComputedStyle(QStringLiteral("#chapter_text"), QStringLiteral("fontSize")),
                 QStringLiteral("24px"));
        QCOMPARE(ComputedStyle(QStringLiteral("body"), QStringLiteral("backgroundColor")),
                 QStringLiteral("rgb(28, 29, 31)"));
        panel_->SetLibraryLook(LibraryFolder(), QString::fromStdU16String(ReadingStyleSheet(
                                                    {16, 150, ReadingTheme::Day, 100})));
        QTRY_COMPARE(ComputedStyle(QStringLiteral("#chapter_text"), QStringLiteral("fontSize")),
                     QStringLiteral("16px"));
        QCOMPARE(ComputedStyle(QStringLiteral("#chapter_text"), QStringLiteral("lineHeight")),
                 QStringLiteral("24px"));
        QCOMPARE(ComputedStyle(QStringLiteral("body"), QStringLiteral("backgroundColor")),
                 QStringLiteral("rgb(255, 255, 255)"));

        Load(QUrl::fromLocalFile(WritePage("<html><body style=\"background:#00ff00\">"
                                           "<div class=\"text\" style=\"font-size:10px\">x</div>"
                                           "</body></html>")));
        QCOMPARE(ComputedStyle(QStringLiteral(".text"), QStringLiteral("fontSize")),
                 QStringLiteral("10px"));
        QCOMPARE(ComputedStyle(QStringLiteral("body"), QStringLiteral("backgroundColor")),
                 QStringLiteral("rgb(0, 255, 0)"));
    }

    // Lines between line breaks, led by the site's own blanks, show as the paragraphs of a
    // paragraph-written chapter do: the same two-character indent, no blanks of their own. The
    // file keeps what the site wrote.
    void ChapterLinesShowAsIndentedParagraphs_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("paragraphs");
        QTest::newRow("line breaks")
            << QStringLiteral("&nbsp;&nbsp;&nbsp;&nbsp;甲行<br /><br />\n　　乙行<br />"
                              "<b>丙</b>行<br />\n<img src=\"x.png\" alt=\"\"><br />")
            << QStringList{QStringLiteral("甲行"), QStringLiteral("乙行"), QStringLiteral("丙行"),
                           QString()};
        QTest::newRow("paragraphs")
            << QStringLiteral("<p>　　一段</p>\n<p>&nbsp;&nbsp;二段</p><p>三段</p>")
            << QStringList{QStringLiteral("一段"), QStringLiteral("二段"), QStringLiteral("三段")};
    }

    void ChapterLinesShowAsIndentedParagraphs() {
        QFETCH(QString, text);
        QFETCH(QStringList, paragraphs);
        WriteNovel(1, text.toStdU16String());
        QFile file(Chapter(1));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray written = file.readAll();
        file.close();
        panel_->SetLibraryLook(LibraryFolder(), QString::fromStdU16String(ReadingStyleSheet(
                                                    {20, 190, ReadingTheme::Sepia, 100})));
        Load(QUrl::fromLocalFile(Chapter(1)));
        const QStringList shown =
            Evaluate(QStringLiteral(
                         "Array.prototype.map.call(document.querySelectorAll('#chapter_text > p'),"
                         "function(p) { return p.textContent; })"))
                .toStringList();
        QCOMPARE(shown, paragraphs);
        const QStringList indents =
            Evaluate(
                QStringLiteral(
                    "Array.prototype.map.call(document.querySelectorAll('#chapter_text > p'),"
                    "function(p) { return p.className + ':' + getComputedStyle(p).textIndent; })"))
                .toStringList();
        for (int i = 0; i < indents.size(); ++i) {
            const bool picture = paragraphs[i].isEmpty();
            QCOMPARE(indents[i], picture ? QStringLiteral("picture:0px") : QStringLiteral(":40px"));
        }
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), written);
    }

    void PageUrlTakesPathsAndAddresses() {
        QCOMPARE(CHtmlCtrl::PageUrl(u"/tmp/Novel/a #1.html"),
                 QUrl::fromLocalFile(QStringLiteral("/tmp/Novel/a #1.html")));
        QCOMPARE(CHtmlCtrl::PageUrl(u"http://127.0.0.1/x.html"),
                 QUrl(QStringLiteral("http://127.0.0.1/x.html")));
        QCOMPARE(CHtmlCtrl::PageUrl(u"Template/wait.html"),
                 QUrl::fromLocalFile(
                     QDir::current().absoluteFilePath(QStringLiteral("Template/wait.html"))));
    }
};

VELUNOR_BROWSER_TEST_MAIN(BrowserPanelTest)
#include "browser_panel_test.moc"
