#include "StatusPanels.h"

#include <QLabel>

namespace tarnwick {

TStatusPanels::TStatusPanels(QWidget* parent) : QWidget(parent)
{
    for (int i = 0; i < Count; ++i) {
        auto* label = new QLabel(this);
        label->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        label->setFrameShape(QFrame::Panel);
        label->setFrameShadow(QFrame::Sunken);
        label->setContentsMargins(4, 0, 4, 0);
        // Panels 0 to 2 are centred; the message panels read from the left.
        label->setAlignment(i < 3 ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter);
        labels_[static_cast<size_t>(i)] = label;
    }
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    Place();
}

QString TStatusPanels::Text(int panel) const { return labels_.at(static_cast<size_t>(panel))->text(); }

void TStatusPanels::SetText(int panel, const QString& text)
{
    QLabel* label = labels_.at(static_cast<size_t>(panel));
    label->setText(text);
    // A message longer than its panel can still be read in full.
    label->setToolTip(panel >= 3 ? text : QString());
    Place();
}

void TStatusPanels::SetWidth(int panel, int width)
{
    widths_.at(static_cast<size_t>(panel)) = std::max(0, width);
    Place();
}

QSize TStatusPanels::sizeHint() const { return {0, fontMetrics().height() + 8}; }
QSize TStatusPanels::minimumSizeHint() const { return sizeHint(); }

void TStatusPanels::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Place();
}

void TStatusPanels::Place()
{
    int x = 0;
    for (int i = 0; i < Count; ++i) {
        QLabel* label = labels_[static_cast<size_t>(i)];
        int w = widths_[static_cast<size_t>(i)];
        // A state panel is never narrower than its text, whatever the font.
        if (w > 0 && i < 3)
            w = std::max(w, label->sizeHint().width());
        // The last panel takes what is left, like the message panel of a status bar.
        if (i == Count - 1)
            w = std::max(w, width() - x);
        label->setVisible(w > 0);
        label->setGeometry(x, 0, w, height());
        x += w;
    }
}

}  // namespace tarnwick
