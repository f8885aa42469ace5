// Frames drawn as the layout was drawn: see framestyle.h.
#include "ui/framestyle.h"

#include <qdrawutil.h>

#include <QApplication>
#include <QGroupBox>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOption>

namespace mivex::ui {

namespace {

// The desktop's style, except that a frame's line begins at its caption's middle and leaves a
// gap for the caption, which stands a little in from the frame's left edge.
class DesignFrameStyle : public QProxyStyle {
public:
    DesignFrameStyle() : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {}

    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl sub,
                         const QWidget* widget) const override {
        const QRect rect = QProxyStyle::subControlRect(control, option, sub, widget);
        if (control != CC_GroupBox || (sub != SC_GroupBoxFrame && sub != SC_GroupBoxLabel)) {
            return rect;
        }
        const int textHeight = option->fontMetrics.height();
        if (sub == SC_GroupBoxLabel) {
            return rect.translated(kIndent, option->rect.top() - rect.top());
        }
        return option->rect.adjusted(0, textHeight / 2, 0, 0);
    }

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget) const override {
        const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
        if (control != CC_GroupBox || !box) {
            QProxyStyle::drawComplexControl(control, option, painter, widget);
            return;
        }
        const QRect label = subControlRect(control, option, SC_GroupBoxLabel, widget);
        painter->save();
        if (!box->text.isEmpty()) {
            painter->setClipRegion(QRegion(option->rect) - label.adjusted(-2, 0, 2, 0));
        }
        // An etched line, as the layout's frames were drawn.
        qDrawShadeRect(painter, subControlRect(control, option, SC_GroupBoxFrame, widget),
                       box->palette, true, 1);
        painter->restore();
        proxy()->drawItemText(painter, label,
                              Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic, box->palette,
                              box->state & State_Enabled, box->text, QPalette::WindowText);
    }

private:
    static constexpr int kIndent = 6;
};

}  // namespace

void drawFramesAsDesigned(QWidget* root) {
    static DesignFrameStyle* const style = [] {
        auto* s = new DesignFrameStyle;
        s->setParent(qApp);  // lives as long as the application
        return s;
    }();
    for (QGroupBox* frame : root->findChildren<QGroupBox*>()) {
        frame->setStyle(style);
    }
}

}  // namespace mivex::ui
