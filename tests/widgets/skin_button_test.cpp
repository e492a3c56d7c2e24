#include "widgets/skin_button.h"

#include <QApplication>
#include <QEnterEvent>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QTest>

using velunor::ButtonColorSlot;
using velunor::CSkinButton;

namespace {

const QColor kLit(10, 200, 30);
const QColor kNormal(200, 20, 40);

// A button with easily told faces: lit green, normal red.
void Paint(CSkinButton& button) {
    button.SetButtonColor(ButtonColorSlot::HoverBackground, kLit);
    button.SetButtonColor(ButtonColorSlot::NormalBackground, kNormal);
    button.SetButtonColor(ButtonColorSlot::FocusBackground, kNormal);
}

QColor FaceColor(CSkinButton& button) {
    return button.grab().toImage().pixelColor(3, button.height() / 2);
}

void Enter(CSkinButton& button) {
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(&button, &enter);
}

void Move(CSkinButton& button, QPoint at, Qt::MouseButtons held) {
    QMouseEvent move(QEvent::MouseMove, at, button.mapToGlobal(at), Qt::NoButton, held,
                     Qt::NoModifier);
    QApplication::sendEvent(&button, &move);
}

void Leave(CSkinButton& button) {
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&button, &leave);
}

QPixmap SolidIcon(const QColor& color) {
    QPixmap icon(16, 16);
    icon.fill(color);
    return icon;
}

// The box around the pixels of `color` in `image`; null when there are none.
QRect BoundsOf(const QImage& image, const QColor& color) {
    QRect bounds;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixelColor(x, y) == color) {
                bounds |= QRect(x, y, 1, 1);
            }
        }
    }
    return bounds;
}

} // namespace

class SkinButtonTest : public QObject {
    Q_OBJECT

  private slots:
    void BrightenedColoursStopAtWhite_data() {
        QTest::addColumn<QColor>("before");
        QTest::addColumn<QColor>("after");
        QTest::newRow("button face grey") << QColor(240, 240, 240) << QColor(255, 255, 255);
        QTest::newRow("far from white") << QColor(100, 150, 200) << QColor(130, 180, 230);
        QTest::newRow("one bright component limits all")
            << QColor(10, 20, 250) << QColor(15, 25, 255);
        QTest::newRow("white stays white") << QColor(255, 255, 255) << QColor(255, 255, 255);
        QTest::newRow("225 still takes 30") << QColor(225, 0, 0) << QColor(255, 30, 30);
    }
    void BrightenedColoursStopAtWhite() {
        QFETCH(QColor, before);
        QFETCH(QColor, after);
        CSkinButton button;
        button.SetButtonColor(ButtonColorSlot::NormalBackground, before);
        button.OffsetButtonColor(ButtonColorSlot::NormalBackground);
        QCOMPARE(button.ButtonColor(ButtonColorSlot::NormalBackground), after);
        // The other slots keep their colours.
        QCOMPARE(button.ButtonColor(ButtonColorSlot::HoverBackground),
                 button.palette().color(QPalette::Button));
    }

    void PointerLightsAndDarkensTheFace() {
        CSkinButton button(QStringLiteral("搜索"));
        button.resize(80, 24);
        Paint(button);
        QCOMPARE(FaceColor(button), kNormal);
        Enter(button);
        QVERIFY(button.IsLit());
        QCOMPARE(FaceColor(button), kLit);
        Move(button, QPoint(10, 10), Qt::NoButton);
        QVERIFY(button.IsLit());
        Leave(button);
        QVERIFY(!button.IsLit());
        QCOMPARE(FaceColor(button), kNormal);
    }

    void DragFromElsewhereDoesNotLight() {
        CSkinButton button(QStringLiteral("搜索"));
        button.resize(80, 24);
        Paint(button);
        Move(button, QPoint(10, 10), Qt::LeftButton);
        QVERIFY(!button.IsLit());
        QCOMPARE(FaceColor(button), kNormal);
        // Once the button is let go over it, the next move lights it.
        Move(button, QPoint(11, 10), Qt::NoButton);
        QVERIFY(button.IsLit());
        // Holding the button on a lit face keeps it lit.
        Move(button, QPoint(12, 10), Qt::LeftButton);
        QVERIFY(button.IsLit());
    }

    void LosingFocusOrBeingDisabledDarkens() {
        CSkinButton button(QStringLiteral("搜索"));
        Move(button, QPoint(5, 5), Qt::NoButton);
        QFocusEvent focusOut(QEvent::FocusOut);
        QApplication::sendEvent(&button, &focusOut);
        QVERIFY(!button.IsLit());
        Move(button, QPoint(5, 5), Qt::NoButton);
        button.setEnabled(false);
        QVERIFY(!button.IsLit());
    }

    void IconWithoutCaptionIsCentred() {
        CSkinButton button;
        button.resize(60, 40);
        QCOMPARE(button.SetButtonIcon(SolidIcon(Qt::blue)), 0);
        const QRect icon = BoundsOf(button.grab().toImage(), Qt::blue);
        QCOMPARE(icon, QRect(22, 12, 16, 16));
    }

    void IconWithCaptionSitsLeftAndSinksWhenPressed() {
        CSkinButton button(QStringLiteral("主界面"));
        button.resize(120, 45);
        button.SetButtonIcon(SolidIcon(Qt::blue));
        // Three pixels inside the one-pixel frame, centred vertically.
        QCOMPARE(BoundsOf(button.grab().toImage(), Qt::blue), QRect(4, 14, 16, 16));
        button.setDown(true);
        QCOMPARE(BoundsOf(button.grab().toImage(), Qt::blue), QRect(5, 15, 16, 16));
    }

    void GreyCopyIsTheNormalLook() {
        CSkinButton button;
        button.resize(60, 40);
        QCOMPARE(button.SetButtonIcon(SolidIcon(QColor(200, 100, 0)), velunor::kGreyIconCopy), 0);
        const int grey = static_cast<int>(0.299 * 200 + 0.587 * 100);
        QVERIFY(!BoundsOf(button.grab().toImage(), QColor(grey, grey, grey)).isNull());
        Move(button, QPoint(5, 5), Qt::NoButton);
        QVERIFY(!BoundsOf(button.grab().toImage(), QColor(200, 100, 0)).isNull());
    }

    void GreyCopyKeepsBlackAndAlpha() {
        QImage image(2, 1, QImage::Format_ARGB32);
        image.setPixel(0, 0, qRgba(0, 0, 0, 255));
        image.setPixel(1, 0, qRgba(255, 0, 0, 128));
        const QImage grey = CSkinButton::GreyCopy(image);
        QCOMPARE(grey.pixel(0, 0), qRgba(0, 0, 0, 255));
        QCOMPARE(grey.pixel(1, 0), qRgba(76, 76, 76, 128));
    }

    void NullIconClearsBothAndFails() {
        CSkinButton button;
        button.resize(60, 40);
        button.SetButtonIcon(SolidIcon(Qt::blue));
        QCOMPARE(button.SetButtonIcon(QPixmap()), 1);
        QVERIFY(BoundsOf(button.grab().toImage(), Qt::blue).isNull());
    }

    void CheckBoxModeTogglesAndKeepsThePressedFace() {
        CSkinButton button(QStringLiteral("选"));
        button.resize(80, 24);
        button.setCheckable(true);
        Paint(button);
        QTest::mouseClick(&button, Qt::LeftButton);
        QVERIFY(button.isChecked());
        Leave(button);
        QCOMPARE(FaceColor(button), kLit);
        QTest::mouseClick(&button, Qt::LeftButton);
        QVERIFY(!button.isChecked());
    }

    void ClickSendsTheCommandAndTakesFocus() {
        QWidget window;
        auto* button = new CSkinButton(QStringLiteral("搜索"), &window);
        button->resize(80, 24);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        int clicks = 0;
        QObject::connect(button, &CSkinButton::clicked, [&clicks] { ++clicks; });
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(clicks, 1);
        QVERIFY(button->hasFocus());
    }

    void DisabledCaptionIsEmbossed() {
        CSkinButton button(QStringLiteral("搜索"));
        button.resize(80, 24);
        button.SetButtonColor(ButtonColorSlot::NormalText, Qt::blue);
        QVERIFY(!BoundsOf(button.grab().toImage(), Qt::blue).isNull());
        button.setEnabled(false);
        const QImage image = button.grab().toImage();
        QVERIFY(BoundsOf(image, Qt::blue).isNull());
        const QRect shadow = BoundsOf(image, button.palette().color(QPalette::Dark));
        const QRect light = BoundsOf(image, button.palette().color(QPalette::Light));
        QVERIFY(!shadow.isNull());
        // The highlight copy lies one pixel right and down of the shadow copy.
        QVERIFY(light.contains(shadow.bottomRight() + QPoint(1, 1)));
    }
};

QTEST_MAIN(SkinButtonTest)
#include "skin_button_test.moc"
