// The target-site dialog over real rule files and a real selection file.

#include "app/command_ids.h"
#include "app/dlg_target_set.h"
#include "controls_test.h"
#include "support/temp_folder.h"

#include <QAbstractButton>
#include <QHeaderView>
#include <QTableWidget>
#include <QTest>

#include <filesystem>
#include <memory>
#include <string>

using namespace velunor;
using velunor::testing::TempFolder;

namespace {

constexpr int kRuleCount = 12;

std::string Selection(const std::string& selected) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<TargetSiteSelect>\r\n<Selected>" +
           selected + "</Selected>\r\n</TargetSiteSelect>\r\n";
}

} // namespace

class DlgTargetSetTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<TempFolder> folder_;
    std::unique_ptr<CDlgTargetSet> dialog_;

    void Open(const std::string& selected) {
        folder_->Write("Config/TargetSiteSelect.xml", Selection(selected));
        dialog_ = std::make_unique<CDlgTargetSet>(folder_->WidePath() + u"/");
    }

    QList<int> CheckedRows() {
        QList<int> rows;
        QTableWidget& list = dialog_->SiteList();
        for (int row = 0; row < list.rowCount(); ++row) {
            if (list.item(row, 0)->checkState() == Qt::Checked) {
                rows.append(row);
            }
        }
        return rows;
    }

    void Click(int id) {
        auto* button = qobject_cast<QAbstractButton*>(dialog_->Control(id));
        QVERIFY(button != nullptr);
        button->click();
    }

    std::string Stored() const {
        return folder_->Read("Config/TargetSiteSelect.xml");
    }

  private slots:
    void init() {
        folder_ = std::make_unique<TempFolder>();
        std::filesystem::create_directories(folder_->File("Rule"));
        std::filesystem::create_directories(folder_->File("Config"));
        // Two digits keep the enumeration in the order of the numbers.
        for (int i = 0; i < kRuleCount; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "Rule/%02d.xml", i);
            folder_->Write(name, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Channel>\r\n"
                                 "<SiteName>站点" +
                                     std::to_string(i) + "</SiteName>\r\n<SiteUrl>http://site" +
                                     std::to_string(i) + ".test/</SiteUrl>\r\n</Channel>\r\n");
        }
        // An unreadable rule file keeps its row, so the rows still match the stored indices.
        folder_->Write("Rule/05.xml", "\x01 not xml");
    }

    void cleanup() {
        dialog_.reset();
        folder_.reset();
    }

    void RowsShowEveryRuleFileWithItsStoredCheck() {
        Open("1,10,");
        QCOMPARE(dialog_->windowTitle(), QStringLiteral("目标站设置"));
        QTableWidget& list = dialog_->SiteList();
        QCOMPARE(list.rowCount(), kRuleCount);
        QCOMPARE(list.horizontalHeaderItem(0)->text(), QStringLiteral("序号"));
        QCOMPARE(list.horizontalHeaderItem(1)->text(), QStringLiteral("网站名称"));
        QCOMPARE(list.horizontalHeaderItem(2)->text(), QStringLiteral("网站地址"));
        QCOMPARE(list.columnWidth(0), 40);
        QCOMPARE(list.columnWidth(1), 100);
        QCOMPARE(list.columnWidth(2), 200);
        QCOMPARE(list.item(0, 0)->text(), QStringLiteral("1"));
        QCOMPARE(list.item(11, 0)->text(), QStringLiteral("12"));
        QCOMPARE(list.item(2, 1)->text(), QStringLiteral("站点2"));
        QCOMPARE(list.item(2, 2)->text(), QStringLiteral("http://site2.test/"));
        QVERIFY(list.item(5, 1)->text().isEmpty());
        // "1" and "10" are whole entries: neither row 0 nor row 11 matches a part of them.
        QCOMPARE(CheckedRows(), QList<int>({1, 10}));
        for (int id : {kIdSelectAll, kIdInvert, kIdConfirm, kIdCancel}) {
            QVERIFY(dialog_->Control(id) != nullptr);
        }
    }

    void InvertAndTheUsersChecksAreWhatConfirmStores() {
        Open("0,2,");
        Click(kIdInvert);
        QCOMPARE(CheckedRows(), QList<int>({1, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
        // A second click on the same radio button inverts again.
        Click(kIdInvert);
        QCOMPARE(CheckedRows(), QList<int>({0, 2}));
        dialog_->SiteList().item(2, 0)->setCheckState(Qt::Unchecked);
        dialog_->SiteList().item(7, 0)->setCheckState(Qt::Checked);
        Click(kIdConfirm);
        QCOMPARE(dialog_->result(), int(QDialog::Accepted));
        QCOMPARE(Stored(), Selection("0,7,"));
    }

    void SelectAllThenNothingChecked() {
        Open("");
        QVERIFY(CheckedRows().isEmpty());
        Click(kIdSelectAll);
        QCOMPARE(CheckedRows().size(), kRuleCount);
        Click(kIdInvert);
        Click(kIdConfirm);
        QCOMPARE(Stored(), Selection(""));
    }

    void CancelWritesNothing() {
        Open("1,10,");
        const std::string before = Stored();
        Click(kIdSelectAll);
        dialog_->SiteList().item(3, 0)->setCheckState(Qt::Unchecked);
        Click(kIdCancel);
        QCOMPARE(dialog_->result(), int(QDialog::Rejected));
        QCOMPARE(Stored(), before);
    }
};

VELUNOR_CONTROLS_TEST(DlgTargetSetTest)
#include "dlg_target_set_test.moc"
