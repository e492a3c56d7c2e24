// The recommendation pages shipped with the program: every page shows the categories in the
// order of the window's tab strip, marks its own, and every link opens a page that is there or
// starts a search; the text reads as the encoding the page declares.

#include "controls_test.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTest>

namespace {

const QStringList kCategories{"奇幻·玄幻", "武侠·仙侠", "都市·言情", "军事·历史",
                              "竞技·游戏", "科幻·灵异", "美人·同人"};
const QStringList kPages{"qihuan.html", "wuxia.html",  "dushi.html", "junshi.html",
                         "youxi.html",  "kehuan.html", "meiren.html"};

QString PagePath(const QString& page) {
    return QStringLiteral(VELUNOR_SOURCE_DATA "/Recommend/") + page;
}

// The page's text; empty, with a failure, when it is missing or not UTF-8.
QString ReadPage(const QString& page) {
    QFile file(PagePath(page));
    if (!file.open(QIODevice::ReadOnly)) {
        QTest::qFail(qPrintable("cannot read " + page), __FILE__, __LINE__);
        return {};
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(file.readAll());
    if (utf8.hasError()) {
        QTest::qFail(qPrintable(page + " is not UTF-8"), __FILE__, __LINE__);
        return {};
    }
    return text;
}

} // namespace

class RecommendPagesTest : public QObject {
    Q_OBJECT

  private slots:
    void EveryPageShowsOneCategoryOrderAndEveryLinkLeadsSomewhere() {
        const QRegularExpression tab(
            QStringLiteral("<a class=\"tab( current)?\" href=\"([^\"]*)\">([^<]*)</a>"));
        const QRegularExpression link(QStringLiteral("href=\"([^\"]*)\""));
        const QRegularExpression search(QStringLiteral("^app:recommend/[^/<>]+$"));
        for (qsizetype i = 0; i < kPages.size(); ++i) {
            const QString text = ReadPage(kPages[i]);
            QVERIFY(text.contains(QStringLiteral("<meta charset=\"UTF-8\">")));
            QCOMPARE(QRegularExpression("<h1>([^<]*)</h1>").match(text).captured(1),
                     kCategories[i]);
            QStringList names;
            QStringList pages;
            QStringList current;
            auto tabs = tab.globalMatch(text);
            while (tabs.hasNext()) {
                const QRegularExpressionMatch match = tabs.next();
                pages.append(match.captured(2));
                names.append(match.captured(3));
                if (!match.captured(1).isEmpty()) {
                    current.append(match.captured(3));
                }
            }
            QCOMPARE(names, kCategories);
            QCOMPARE(pages, kPages);
            QCOMPARE(current, QStringList{kCategories[i]});
            // Every other link is a shipped file or the search for a book.
            int books = 0;
            auto links = link.globalMatch(text);
            while (links.hasNext()) {
                const QString target = links.next().captured(1);
                if (target.startsWith(QStringLiteral("app:"))) {
                    QVERIFY2(search.match(target).hasMatch(), qPrintable(target));
                    ++books;
                } else {
                    QVERIFY2(QFile::exists(PagePath(target)), qPrintable(target));
                }
            }
            QVERIFY(books > 0);
        }
    }
};

VELUNOR_CONTROLS_TEST(RecommendPagesTest)
#include "recommend_pages_test.moc"
