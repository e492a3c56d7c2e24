// The desktop program against a site that only a browser can read: its search is submitted by
// the page's script and its chapters sit behind a script challenge. The window loads those
// pages in its own browser, off screen, as the program does once started.

#include "app/command_ids.h"
#include "app/list_ctrl_search_result.h"
#include "app/main_window.h"
#include "app/rule_page_renderer.h"
#include "browser_test_main.h"
#include "core/core.h"
#include "library/novel_index.h"
#include "support/temp_folder.h"
#include "support/test_site.h"

#include <QLabel>
#include <QLineEdit>

#include <filesystem>
#include <memory>

using namespace velunor;
using velunor::testing::ScopedCurrentDirectory;
using velunor::testing::TempFolder;
using velunor::testing::TestSite;

namespace {
constexpr int kWait = 30000;
}

class GuardedSiteTest : public QObject {
    Q_OBJECT

  private:
    TempFolder program_;
    TestSite site_;
    std::unique_ptr<ScopedCurrentDirectory> inside_;
    std::unique_ptr<CRulePageRenderer> rulePages_;
    std::unique_ptr<CMainWindow> window_;

    QString Status() const {
        return qobject_cast<QLabel*>(window_->Control(kIdStatusLine))->text();
    }

  private slots:
    void initTestCase() {
        std::filesystem::copy(std::string(VELUNOR_SOURCE_DATA) + "/Template",
                              program_.File("Template"));
        for (const char* folder : {"Recommend", "Config", "Rule"}) {
            std::filesystem::create_directories(program_.File(folder));
        }
        program_.Write("Recommend/qihuan.html", "<html><body>start</body></html>");
        program_.Write(
            "Config/BookShelf.xml",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<BookShelf>\r\n</BookShelf>\r\n");
        program_.Write("Config/TargetSiteSelect.xml",
                       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<TargetSiteSelect>\r\n"
                       "<Selected>0,</Selected>\r\n</TargetSiteSelect>\r\n");
        program_.Write("Rule/scripted.xml",
                       site_.RuleFile(std::string(VELUNOR_TEST_DATA) + "/rule-check/scripted.xml"));
        inside_ = std::make_unique<ScopedCurrentDirectory>(program_.Path());
        rulePages_ = std::make_unique<CRulePageRenderer>();
        InstallPageRenderer(std::make_shared<CInProcessPageRenderer>(rulePages_.get()));
        window_ = std::make_unique<CMainWindow>(program_.WidePath() + u"/");
        window_->resize(1024, 700);
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    }

    void cleanupTestCase() {
        window_.reset();
        InstallPageRenderer(nullptr);
        rulePages_.reset();
        inside_.reset();
    }

    void TheScriptBuiltSearchListsTheNovel() {
        auto* box = qobject_cast<QLineEdit*>(window_->Control(kIdSearchBox));
        box->setText(QStringLiteral("夜航船"));
        box->setFocus();
        QTest::keyClick(box, Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(Status(), QStringLiteral("搜索完成，共搜索到 1 本小说。"), kWait);
        QCOMPARE(QString::fromStdU16String(window_->ResultRowTexts(0).NovelName),
                 QStringLiteral("夜航船"));
    }

    void DoubleClickDownloadsEveryGuardedChapter() {
        CListCtrlSearchResult& list = window_->SearchResultList();
        const QRect row = list.visualRect(list.model()->index(0, 2));
        QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, row.center());
        QTRY_COMPARE_WITH_TIMEOUT(Status(), QStringLiteral("下载完成！ "), kWait);
        NovelIndex index;
        QVERIFY(LoadNovelIndex(program_.WideFile("Novel/脚本站/夜航船"), index));
        QCOMPARE(index.Chapters.size(), size_t{3});
        for (const IndexedChapter& chapter : index.Chapters) {
            QCOMPARE(chapter.State, ChapterState::Stored);
        }
    }
};

VELUNOR_BROWSER_TEST_MAIN(GuardedSiteTest)

#include "guarded_site_test.moc"
