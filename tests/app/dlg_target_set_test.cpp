// The target-site dialog over real rule files and a real selection file.

#include "app/command_ids.h"
#include "app/dlg_target_set.h"
#include "controls_test.h"
#include "support/temp_folder.h"

#include <QAbstractButton>
#include <QHeaderView>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTableWidget>
#include <QTest>

#include <filesystem>
#include <memory>
#include <string>

using namespace velunor;
using velunor::testing::TempFolder;

namespace {

constexpr int kRuleCount = 12;

// The last rule's address, as long as the longest one shipped: wider than the address column's
// designed 200 pixels.
const QString kLongAddress = QStringLiteral("http://127.0.0.1:8808/shuku-utf8/");

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

    // The indices of the checked rows, as the selection file's Selected text.
    QString StoredIndices() const {
        const QRegularExpression selected(QStringLiteral("<Selected>([^<]*)</Selected>"));
        return selected.match(QString::fromStdString(Stored())).captured(1);
    }

    // The rule files the selection file names beside the indices.
    QStringList StoredRules() const {
        const QRegularExpression rule(QStringLiteral("<Rule>([^<]*)</Rule>"));
        QStringList names;
        auto found = rule.globalMatch(QString::fromStdString(Stored()));
        while (found.hasNext()) {
            names.append(found.next().captured(1));
        }
        return names;
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
        folder_->Write("Rule/11.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Channel>\r\n"
                                      "<SiteName>长址站</SiteName>\r\n<SiteUrl>" +
                                          kLongAddress.toStdString() +
                                          "</SiteUrl>\r\n</Channel>\r\n");
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
        // A second click on the same button inverts again.
        Click(kIdInvert);
        QCOMPARE(CheckedRows(), QList<int>({0, 2}));
        dialog_->SiteList().item(2, 0)->setCheckState(Qt::Unchecked);
        dialog_->SiteList().item(7, 0)->setCheckState(Qt::Checked);
        Click(kIdConfirm);
        QCOMPARE(dialog_->result(), int(QDialog::Accepted));
        QCOMPARE(StoredIndices(), QStringLiteral("0,7,"));
        QCOMPARE(StoredRules(), QStringList({"00.xml", "07.xml"}));
    }

    void SelectAllThenNothingChecked() {
        Open("");
        QVERIFY(CheckedRows().isEmpty());
        Click(kIdSelectAll);
        QCOMPARE(CheckedRows().size(), kRuleCount);
        Click(kIdInvert);
        Click(kIdConfirm);
        QVERIFY(StoredIndices().isEmpty());
        QVERIFY(StoredRules().isEmpty());
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

    void SelectAllAndInvertArePushButtonsThatActOncePerClick() {
        Open("0,");
        dialog_->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog_.get()));
        auto* selectAll = qobject_cast<QPushButton*>(dialog_->Control(kIdSelectAll));
        auto* invert = qobject_cast<QPushButton*>(dialog_->Control(kIdInvert));
        QVERIFY(selectAll != nullptr && invert != nullptr);
        QCOMPARE(selectAll->text(), QStringLiteral("全选"));
        QCOMPARE(invert->text(), QStringLiteral("反选"));
        QVERIFY(!selectAll->isCheckable() && !invert->isCheckable());
        QTest::mouseClick(selectAll, Qt::LeftButton);
        QCOMPARE(CheckedRows().size(), kRuleCount);
        QTest::mouseClick(invert, Qt::LeftButton);
        QVERIFY(CheckedRows().isEmpty());
        QTest::mouseClick(invert, Qt::LeftButton);
        QCOMPARE(CheckedRows().size(), kRuleCount);
        // Enter in the list still confirms; it neither selects all nor inverts.
        dialog_->SiteList().item(0, 0)->setCheckState(Qt::Unchecked);
        dialog_->SiteList().setFocus();
        QTest::keyClick(&dialog_->SiteList(), Qt::Key_Return);
        QCOMPARE(dialog_->result(), int(QDialog::Accepted));
        QCOMPARE(StoredIndices(), QStringLiteral("1,2,3,4,5,6,7,8,9,10,11,"));
        QCOMPARE(StoredRules().size(), kRuleCount - 1);
        QVERIFY(!StoredRules().contains(QStringLiteral("00.xml")));
    }

    void AddressesShowWholeAtTheDefaultSize() {
        Open("");
        dialog_->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog_.get()));
        QCoreApplication::processEvents();
        QTableWidget& list = dialog_->SiteList();
        QCOMPARE(list.item(11, 2)->text(), kLongAddress);
        const int needed = static_cast<QAbstractItemView&>(list).sizeHintForColumn(2);
        QVERIFY2(needed > 200, "the address must be longer than the designed column");
        QVERIFY(list.columnWidth(2) >= needed);
        // The columns end at the list's right edge: all is in view and nothing scrolls.
        QCOMPARE(list.columnViewportPosition(2) + list.columnWidth(2), list.viewport()->width());
        QVERIFY(!list.horizontalScrollBar()->isVisible());
        QCOMPARE(list.columnWidth(0), 40);
    }
};

VELUNOR_CONTROLS_TEST(DlgTargetSetTest)
#include "dlg_target_set_test.moc"
