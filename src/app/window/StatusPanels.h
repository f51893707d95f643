#pragma once

// A status bar of fixed-width panels that may run past the window's edge, as the window's
// sizes expect: a panel of width 0 is not shown, and the window is never widened for them.

#include <QWidget>

#include <array>

class QLabel;

namespace tarnwick {

class TStatusPanels final : public QWidget {
public:
    static constexpr int Count = 5;

    explicit TStatusPanels(QWidget* parent = nullptr);

    QString Text(int panel) const;
    void SetText(int panel, const QString& text);
    int Width(int panel) const { return widths_.at(static_cast<size_t>(panel)); }
    void SetWidth(int panel, int width);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void Place();

    std::array<QLabel*, Count> labels_{};
    std::array<int, Count> widths_{80, 120, 330, 330, 50};
};

}  // namespace tarnwick
