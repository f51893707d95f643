#pragma once

// The views beyond the request cycle: the traffic monitor, the line statistics, and the trend
// of the looped value with its CSV log. The window tells this object what happened on the
// line; the views are separate windows, made when first opened. While a view is closed, what
// only it would show is not even formatted.

#include "LineTraffic.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>

class QWidget;

namespace tarnwick {

class IDialogService;
class TTrafficMonitor;
class TLineStatisticsView;
class TTrendView;

// One looped measurement, as the window shows it.
struct LoopSample {
    QString channel, quantity, status, valueText, unit, heartbeat;
    std::optional<double> value;  // none when the block said the value is not valid
};

class TDiagnostics final : public QObject {
public:
    TDiagnostics(IDialogService& dialogs, QWidget* owner);
    ~TDiagnostics() override;

    void Frame(app::FrameKind kind, app::Direction dir, std::span<const std::uint8_t> bytes);
    // How the request to address ended; responseMs from its send to its end.
    void RequestEnded(int address, app::RequestEnd end, std::optional<double> responseMs);
    void Sample(const LoopSample& s);

    void ShowTrafficMonitor();
    void ShowLineStatistics();
    void ShowTrend();

    // For tests: the views as they are (null until first opened).
    TTrafficMonitor* Monitor() const { return monitor_.get(); }
    TLineStatisticsView* Statistics() const { return statistics_.get(); }
    TTrendView* Trend() const { return trend_.get(); }
    const app::LineStatistics& Counts() const { return counts_; }

private:
    double NowMs() const;

    IDialogService& dialogs_;
    QWidget* owner_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    app::LineStatistics counts_;
    std::vector<std::uint8_t> lastSent_;
    int lastAddress_ = -1;
    std::unique_ptr<TTrafficMonitor> monitor_;
    std::unique_ptr<TLineStatisticsView> statistics_;
    std::unique_ptr<TTrendView> trend_;
};

}  // namespace tarnwick
