#include "Diagnostics.h"

#include "DiagnosticViews.h"

#include <algorithm>

namespace tarnwick {

namespace {

template <typename View>
void Raise(View& view)
{
    view.show();
    view.raise();
    view.activateWindow();
}

}  // namespace

TDiagnostics::TDiagnostics(IDialogService& dialogs, QWidget* owner) : dialogs_(dialogs), owner_(owner) {}

TDiagnostics::~TDiagnostics() = default;

double TDiagnostics::NowMs() const
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_).count();
}

void TDiagnostics::Frame(app::FrameKind kind, app::Direction dir, std::span<const std::uint8_t> bytes)
{
    // An adapter that echoes hands our own request back as if it were the answer.
    if (dir == app::Direction::Sent) {
        lastSent_.assign(bytes.begin(), bytes.end());
        lastAddress_ = kind == app::FrameKind::Tcp ? (bytes.size() > 6 ? bytes[6] : -1) : (bytes.empty() ? -1 : bytes[0]);
    } else if (kind != app::FrameKind::Tcp && !bytes.empty() && lastAddress_ >= 0 &&
               std::equal(bytes.begin(), bytes.end(), lastSent_.begin(), lastSent_.end())) {
        // Writes and the diagnostics echo their request by design; a read never does.
        if (lastSent_.size() > 1 && (lastSent_[1] == 3 || lastSent_[1] == 17))
            counts_.RecordEcho(lastAddress_);
    }
    if (!monitor_ || !monitor_->isVisible() || monitor_->Paused())
        return;
    monitor_->Add(app::MonitorLine(NowMs(), dir, bytes, app::SummariseFrame(kind, dir, bytes)));
}

void TDiagnostics::RequestEnded(int address, app::RequestEnd end, std::optional<double> responseMs)
{
    counts_.Record(address, end, responseMs);
    if (monitor_ && monitor_->isVisible() && !monitor_->Paused()) {
        std::string line = app::MonitorLine(NowMs(), app::Direction::Received, {}, {});
        line = line.substr(0, line.find("  RX")) + "  --  addr " + std::to_string(address) + " " +
               std::string(app::RequestEndText(end));
        if (responseMs && end != app::RequestEnd::Timeout)
            line += " after " + std::to_string(static_cast<long long>(*responseMs + 0.5)) + " ms";
        monitor_->Add(std::move(line));
    }
    if (statistics_ && statistics_->isVisible())
        statistics_->Refresh();
}

void TDiagnostics::Sample(const LoopSample& s)
{
    if (trend_)
        trend_->Add(s);
}

void TDiagnostics::ShowTrafficMonitor()
{
    if (!monitor_)
        monitor_ = std::make_unique<TTrafficMonitor>(dialogs_, owner_);
    Raise(*monitor_);
}

void TDiagnostics::ShowLineStatistics()
{
    if (!statistics_)
        statistics_ = std::make_unique<TLineStatisticsView>(counts_, owner_);
    statistics_->Refresh();
    Raise(*statistics_);
}

void TDiagnostics::ShowTrend()
{
    if (!trend_)
        trend_ = std::make_unique<TTrendView>(dialogs_, owner_);
    Raise(*trend_);
}

}  // namespace tarnwick
