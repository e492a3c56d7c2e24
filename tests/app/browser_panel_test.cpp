#include "app/command_ids.h"
#include "app/dlg_html.h"
#include "browser_test_main.h"
#include "core/core.h"
#include "library/library_layout.h"
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

    void BrowserKeepsItsMarginInsideThePanel() {
        panel_->resize(640, 480);
        QCOMPARE(Browser().geometry(), QRect(-2, -2, 620, 460));
        QCOMPARE(Browser().contextMenuPolicy(), Qt::NoContextMenu);
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
