// Exporting from the bookshelf's menu: the dialog it opens, and the file the job writes while
// the window goes on.

#include "app/dlg_export.h"
#include "app/tree_ctrl_book_shelf.h"
#include "controls_test.h"
#include "core/core.h"
#include "library/library.h"
#include "support/recording_port.h"
#include "support/temp_folder.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <functional>
#include <memory>

using namespace velunor;
using velunor::testing::RecordingPort;
using velunor::testing::TempFolder;

class BookShelfExportTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<TempFolder> folder_;
    // Never freed, and held where the leak checker sees it: an export job may still be
    // returning from its last call on the port when a test ends.
    RecordingPort* const port_ = SharedPort();
    std::unique_ptr<CTreeCtrlBookShelf> tree_;
    std::u16string program_;

    static RecordingPort* SharedPort() {
        static auto* const port = new RecordingPort;
        return port;
    }

    // A shelved novel of two chapters, as the download job writes it.
    void WriteNovel() {
        const std::u16string novel = NovelFolderPath(program_, u"演示书库", u"后来的发展");
        QVERIFY(CreateFolderPath(novel));
        std::u16string encoding(kPageEncoding);
        std::u16string pageTemplate;
        QVERIFY(ReadPage(encoding, TemplatePath(program_, u"ContentPage.html"), pageTemplate));
        NovelIndex index;
        index.SiteName = u"演示书库";
        index.NovelName = u"后来的发展";
        index.InfoPageUrl = u"http://127.0.0.1/book/1/";
        const std::u16string texts[] = {u"后来的发展。<br><br>第二段。", u"结局。"};
        for (int n = 1; n <= 2; ++n) {
            const std::u16string page = novel + u"/" + ChapterPageName(n);
            ChapterPageFields fields{u"r.xml",
                                     u"http://127.0.0.1/book/1/c.html",
                                     StoredLibraryPath(program_, page),
                                     index.NovelName,
                                     u"第" + DecimalText(n) + u"章",
                                     u"",
                                     u""};
            QVERIFY(
                WritePage(encoding, page,
                          ComposeChapterPage(pageTemplate, fields, kStateStored, texts[n - 1])));
            index.Chapters.push_back(
                {n, fields.ChapterName, fields.ChapterUrl, ChapterState::Stored, {}});
        }
        QVERIFY(SaveNovelIndex(novel, index));
        QVERIFY(AddBook(*port_, program_,
                        {u"演示书库", u"后来的发展", novel + u"/ContentsPage.html", {}, {}}));
    }

    // Runs `fill` on the export dialog as soon as the menu item has opened it.
    void WithDialog(const std::function<void(CDlgExport&)>& fill) {
        QTimer::singleShot(0, [fill] {
            auto* dialog = qobject_cast<CDlgExport*>(QApplication::activeModalWidget());
            QVERIFY(dialog != nullptr);
            fill(*dialog);
        });
    }

    void ChooseMenuItem(const QString& text) {
        for (QAction* action : tree_->ContextMenu().actions()) {
            if (action->text() == text) {
                action->trigger();
                return;
            }
        }
        QFAIL("no such menu item");
    }

  private slots:
    void init() {
        folder_ = std::make_unique<TempFolder>();
        program_ = folder_->WidePath() + u"/";
        std::filesystem::copy(std::string(VELUNOR_SOURCE_DATA) + "/Template",
                              folder_->File("Template"));
        std::filesystem::create_directories(folder_->File("Config"));
        WriteNovel();
        tree_ = std::make_unique<CTreeCtrlBookShelf>(*port_, program_);
        tree_->resize(250, 400);
        tree_->show();
        QVERIFY(QTest::qWaitForWindowExposed(tree_.get()));
        tree_->setCurrentItem(tree_->Root()->child(0));
    }

    void cleanup() {
        tree_.reset();
        folder_.reset();
    }

    void TxtItemAsksAndTheJobWritesTheConvertedFile() {
        const QString target = QString::fromStdString(folder_->File("出口.txt"));
        WithDialog([&](CDlgExport& dialog) {
            QCOMPARE(dialog.windowTitle(), QStringLiteral("导出为 TXT"));
            QVERIFY(dialog.PathEdit().text().endsWith(QStringLiteral("/后来的发展.txt")));
            // Choosing a conversion proposes the converted name.
            dialog.ConversionButton(ChineseConversion::SimplifiedToTraditional).click();
            QVERIFY(dialog.PathEdit().text().endsWith(QStringLiteral("/後來的發展.txt")));
            QVERIFY(dialog.EncodingBox() != nullptr);
            dialog.EncodingBox()->setCurrentIndex(1);
            // Typed without its extension.
            dialog.PathEdit().setText(target.chopped(4));
            dialog.Confirm();
        });
        ChooseMenuItem(QStringLiteral("导出为 TXT…"));
        // The job reports on the status line when the file is whole.
        const std::u16string done = u"已导出“" + target.toStdU16String() + u"”，共 2 章。";
        QVERIFY(port_->WaitForStatus(done));
        std::u16string text;
        QVERIFY(
            DecodeCharset(velunor::testing::ReadFileBytes(target.toStdString()), "GB18030", text));
        QCOMPARE(text, std::u16string(u"後來的發展\n\n\n第1章\n\n後來的發展。\n\n第二段。\n"
                                      u"\n\n第2章\n\n結局。\n"));
    }

    void EpubItemOffersNoEncodingAndCancellingWritesNothing() {
        const size_t statuses = port_->Statuses().size();
        WithDialog([](CDlgExport& dialog) {
            QCOMPARE(dialog.windowTitle(), QStringLiteral("导出为 EPUB"));
            QVERIFY(dialog.PathEdit().text().endsWith(QStringLiteral("/后来的发展.epub")));
            QVERIFY(dialog.ConversionButton(ChineseConversion::None).isChecked());
            QVERIFY(dialog.EncodingBox() == nullptr);
            dialog.reject();
        });
        ChooseMenuItem(QStringLiteral("导出为 EPUB…"));
        QCOMPARE(port_->Statuses().size(), statuses);
    }

    // Enter pressed on the question without reading it keeps the file that is there.
    void EnterOnTheOverwriteQuestionKeepsTheExistingFile() {
        const QString target = QString::fromStdString(folder_->Write("旧书.txt", "旧的内容"));
        const size_t statuses = port_->Statuses().size();
        bool noIsDefault = false;
        WithDialog([&](CDlgExport& dialog) {
            dialog.PathEdit().setText(target);
            QTimer::singleShot(0, [&] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                QVERIFY(box != nullptr);
                noIsDefault = box->defaultButton() == box->button(QMessageBox::No);
                QTest::keyClick(box, Qt::Key_Return);
            });
            dialog.Confirm();
            QVERIFY(dialog.isVisible());
            dialog.reject();
        });
        ChooseMenuItem(QStringLiteral("导出为 TXT…"));
        QVERIFY(noIsDefault);
        QCOMPARE(port_->Statuses().size(), statuses);
        QCOMPARE(velunor::testing::ReadFileBytes(target.toStdString()), std::string("旧的内容"));
    }

    void EpubItemWritesTheChosenBook() {
        const QString target = QString::fromStdString(folder_->File("book.epub"));
        WithDialog([&](CDlgExport& dialog) {
            dialog.PathEdit().setText(target);
            dialog.Confirm();
        });
        ChooseMenuItem(QStringLiteral("导出为 EPUB…"));
        QVERIFY(port_->WaitForStatus(u"已导出“" + target.toStdU16String() + u"”，共 2 章。"));
        QVERIFY(velunor::testing::ReadFileBytes(target.toStdString()).starts_with("PK"));
    }
};

VELUNOR_CONTROLS_TEST(BookShelfExportTest)
#include "book_shelf_export_test.moc"
