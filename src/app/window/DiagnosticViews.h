#pragma once

// The three windows of the View menu.

#include "LineTraffic.h"

#include <QFile>
#include <QWidget>

#include <optional>

class QChart;
class QChartView;
class QDateTimeAxis;
class QLabel;
class QLineSeries;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QValueAxis;

namespace tarnwick {

class IDialogService;
struct LoopSample;

class TTrafficMonitor final : public QWidget {
public:
    static constexpr std::size_t Capacity = 5000;

    TTrafficMonitor(IDialogService& dialogs, QWidget* parent);
    void Add(std::string line);
    bool Paused() const;
    const app::TrafficLog& Log() const { return log_; }
    void Clear();
    void Copy();
    void Save();

private:
    IDialogService& dialogs_;
    app::TrafficLog log_{Capacity};
    QPlainTextEdit* text_ = nullptr;
    QPushButton* pause_ = nullptr;
};

class TLineStatisticsView final : public QWidget {
public:
    TLineStatisticsView(app::LineStatistics& counts, QWidget* parent);
    void Refresh();
    void Reset();

private:
    app::LineStatistics& counts_;
    QTableWidget* table_ = nullptr;
    QLabel* hint_ = nullptr;
};

class TTrendView final : public QWidget {
public:
    TTrendView(IDialogService& dialogs, QWidget* parent);
    ~TTrendView() override;
    void Add(const LoopSample& s);
    int PointCount() const;
    bool Logging() const { return csv_.isOpen(); }
    void StartLog();
    void StopLog();

private:
    IDialogService& dialogs_;
    QLineSeries* series_ = nullptr;
    QDateTimeAxis* time_ = nullptr;
    QValueAxis* values_ = nullptr;
    QChart* chart_ = nullptr;
    QSpinBox* minutes_ = nullptr;
    QLabel* logFile_ = nullptr;
    QFile csv_;
};

}  // namespace tarnwick
