#include "widgets/skin_button.h"

#include <QEnterEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

#include <algorithm>

namespace velunor {

namespace {

const QColor kFrameColor(100, 100, 100);
constexpr int kIconMargin = 3;
constexpr int kFocusInset = 3;
constexpr int kLargestOffset = 30;

size_t SlotIndex(ButtonColorSlot slot) {
    return static_cast<size_t>(slot);
}

// No component may pass 255.
int ComponentOffset(int component) {
    return std::min(kLargestOffset, 255 - component);
}

} // namespace

CSkinButton::CSkinButton(QWidget* parent) : CSkinButton(QString(), parent) {}

CSkinButton::CSkinButton(const QString& caption, QWidget* parent) : QAbstractButton(parent) {
    setText(caption);
    // Moves with no button held must reach the button too, or it would not light up after the
    // left button is let go over it.
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    const QColor face = palette().color(QPalette::Button);
    const QColor ink = palette().color(QPalette::ButtonText);
    for (ButtonColorSlot slot :
         {ButtonColorSlot::HoverBackground, ButtonColorSlot::NormalBackground,
          ButtonColorSlot::FocusBackground}) {
        colors_[SlotIndex(slot)] = face;
    }
    for (ButtonColorSlot slot :
         {ButtonColorSlot::HoverText, ButtonColorSlot::NormalText, ButtonColorSlot::FocusText}) {
        colors_[SlotIndex(slot)] = ink;
    }
}

int CSkinButton::SetButtonIcon(const QPixmap& icon1, const QPixmap& icon2) {
    if (icon1.isNull()) {
        icon1_ = QPixmap();
        icon2_ = QPixmap();
        return 1;
    }
    icon1_ = icon1;
    icon2_ = icon2;
    update();
    return 0;
}

int CSkinButton::SetButtonIcon(const QPixmap& icon1, GreyIconCopy) {
    if (icon1.isNull()) {
        return SetButtonIcon(icon1);
    }
    QPixmap grey = QPixmap::fromImage(GreyCopy(icon1.toImage()));
    grey.setDevicePixelRatio(icon1.devicePixelRatio());
    return SetButtonIcon(icon1, grey);
}

QColor CSkinButton::ButtonColor(ButtonColorSlot slot) const {
    return colors_[SlotIndex(slot)];
}

void CSkinButton::SetButtonColor(ButtonColorSlot slot, const QColor& color) {
    colors_[SlotIndex(slot)] = color;
    update();
}

void CSkinButton::OffsetButtonColor(ButtonColorSlot slot) {
    const QColor old = ButtonColor(slot);
    const int offset = BrightenOffset(old);
    SetButtonColor(slot, QColor(old.red() + offset, old.green() + offset, old.blue() + offset));
}

bool CSkinButton::IsLit() const {
    return lit_;
}

QImage CSkinButton::GreyCopy(const QImage& image) {
    QImage grey = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < grey.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(grey.scanLine(y));
        for (int x = 0; x < grey.width(); ++x) {
            const QRgb pixel = line[x];
            if ((pixel & RGB_MASK) == 0) {
                continue;
            }
            const double luminance =
                0.299 * qRed(pixel) + 0.587 * qGreen(pixel) + 0.114 * qBlue(pixel);
            const int level = std::clamp(static_cast<int>(luminance), 0, 255);
            line[x] = qRgba(level, level, level, qAlpha(pixel));
        }
    }
    return grey;
}

int CSkinButton::BrightenOffset(const QColor& color) {
    return std::min({ComponentOffset(color.red()), ComponentOffset(color.green()),
                     ComponentOffset(color.blue())});
}

void CSkinButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), kFrameColor);
    const QRect face = rect().adjusted(1, 1, -1, -1);
    painter.fillRect(face, BackgroundColor());
    if (!IsPressedLook()) {
        painter.setPen(palette().color(QPalette::Light));
        painter.drawRect(face.adjusted(0, 0, -1, -1));
    }
    // A check box shows its state by its face alone; a push button also sinks its content.
    const bool shifted = isDown() && !isCheckable();
    QRect captionArea = face;
    if (!CurrentIcon().isNull()) {
        DrawIcon(painter, face, shifted);
        if (!text().isEmpty()) {
            const int iconWidth = static_cast<int>(CurrentIcon().deviceIndependentSize().width());
            captionArea.setLeft(face.left() + kIconMargin + iconWidth + kIconMargin);
        }
    }
    DrawCaption(painter, captionArea, shifted);
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::WindowText), 1, Qt::DotLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(
            face.adjusted(kFocusInset, kFocusInset, -kFocusInset - 1, -kFocusInset - 1));
    }
}

void CSkinButton::enterEvent(QEnterEvent*) {
    PointerMoved(QGuiApplication::mouseButtons());
}

void CSkinButton::leaveEvent(QEvent*) {
    Darken();
}

void CSkinButton::mouseMoveEvent(QMouseEvent* event) {
    if (rect().contains(event->position().toPoint())) {
        PointerMoved(event->buttons());
    } else {
        Darken();
    }
    QAbstractButton::mouseMoveEvent(event);
}

void CSkinButton::focusOutEvent(QFocusEvent* event) {
    Darken();
    QAbstractButton::focusOutEvent(event);
}

void CSkinButton::changeEvent(QEvent* event) {
    const bool deactivated = event->type() == QEvent::ActivationChange && !isActiveWindow();
    const bool disabled = event->type() == QEvent::EnabledChange && !isEnabled();
    if (deactivated || disabled) {
        Darken();
    }
    QAbstractButton::changeEvent(event);
}

void CSkinButton::PointerMoved(Qt::MouseButtons buttons) {
    // A drag that started elsewhere does not light the button it passes over.
    if (lit_ || (buttons & Qt::LeftButton)) {
        return;
    }
    lit_ = true;
    update();
}

void CSkinButton::Darken() {
    if (!lit_) {
        return;
    }
    lit_ = false;
    update();
}

bool CSkinButton::IsPressedLook() const {
    return isDown() || (isCheckable() && isChecked());
}

QColor CSkinButton::BackgroundColor() const {
    if (lit_ || IsPressedLook()) {
        return ButtonColor(ButtonColorSlot::HoverBackground);
    }
    if (hasFocus()) {
        return ButtonColor(ButtonColorSlot::FocusBackground);
    }
    return ButtonColor(ButtonColorSlot::NormalBackground);
}

QColor CSkinButton::TextColor() const {
    if (lit_ || IsPressedLook()) {
        return ButtonColor(ButtonColorSlot::HoverText);
    }
    return ButtonColor(ButtonColorSlot::NormalText);
}

const QPixmap& CSkinButton::CurrentIcon() const {
    if (lit_ || IsPressedLook() || icon2_.isNull()) {
        return icon1_;
    }
    return icon2_;
}

void CSkinButton::DrawIcon(QPainter& painter, const QRect& area, bool shifted) const {
    QPixmap icon = CurrentIcon();
    if (!isEnabled()) {
        QStyleOption option;
        option.initFrom(this);
        icon = style()->generatedIconPixmap(QIcon::Disabled, icon, &option);
    }
    const QSize size = icon.deviceIndependentSize().toSize();
    QRect target(QPoint(), size);
    if (text().isEmpty()) {
        target.moveCenter(area.center());
    } else {
        target.moveTopLeft(
            QPoint(area.left() + kIconMargin, area.top() + (area.height() - size.height()) / 2));
    }
    if (shifted) {
        target.translate(1, 1);
    }
    painter.drawPixmap(target, icon);
}

void CSkinButton::DrawCaption(QPainter& painter, const QRect& area, bool shifted) const {
    if (text().isEmpty()) {
        return;
    }
    constexpr int flags = Qt::AlignCenter | Qt::TextWordWrap;
    painter.setFont(font());
    const QRect place = shifted ? area.translated(1, 1) : area;
    if (!isEnabled()) {
        painter.setPen(palette().color(QPalette::Light));
        painter.drawText(place.translated(1, 1), flags, text());
        painter.setPen(palette().color(QPalette::Dark));
        painter.drawText(place, flags, text());
        return;
    }
    painter.setPen(TextColor());
    painter.drawText(place, flags, text());
}

} // namespace velunor
