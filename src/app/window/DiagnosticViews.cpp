#include "DiagnosticViews.h"

#include "DialogService.h"
#include "Diagnostics.h"

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QClipboard>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineSeries>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QValueAxis>
#include <QVBoxLayout>

#include <algorithm>

namespace tarnwick {

namespace {

QPushButton* NamedButton(const char* name, const QString& text)
{
    auto* b = new QPushButton(text);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

void WriteFile(IDialogService& dialogs, QWidget* parent, const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size() || !f.flush()) {
        dialogs.ShowException(parent, QStringLiteral("Could not write %1: %2").arg(path, f.errorString()));
        return;
    }
    f.close();
}

}  // namespace

TTrafficMonitor::TTrafficMonitor(IDialogService& dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window), dialogs_(dialogs)
{
    setObjectName(QStringLiteral("TrafficMonitor"));
    setWindowTitle(QStringLiteral("Traffic Monitor"));
    auto* column = new QVBoxLayout(this);
    text_ = new QPlainTextEdit;
    text_->setObjectName(QStringLiteral("TrafficText"));
    text_->setAccessibleName(QStringLiteral("Frames"));
    text_->setReadOnly(true);
    text_->setMaximumBlockCount(static_cast<int>(Capacity));
    text_->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont mono = text_->font();
    mono.setFamily(QStringLiteral("monospace"));
    mono.setStyleHint(QFont::TypeWriter);
    text_->setFont(mono);
    column->addWidget(text_, 1);
    auto* row = new QHBoxLayout;
    pause_ = NamedButton("TrafficPause", QStringLiteral("Pause"));
    pause_->setCheckable(true);
    auto* clear = NamedButton("TrafficClear", QStringLiteral("Clear"));
    auto* copy = NamedButton("TrafficCopy", QStringLiteral("Copy"));
    auto* save = NamedButton("TrafficSave", QStringLiteral("Save..."));
    for (QPushButton* b : {pause_, clear, copy, save})
        row->addWidget(b);
    row->addStretch(1);
    column->addLayout(row);
    connect(clear, &QPushButton::clicked, this, &TTrafficMonitor::Clear);
    connect(copy, &QPushButton::clicked, this, &TTrafficMonitor::Copy);
    connect(save, &QPushButton::clicked, this, &TTrafficMonitor::Save);
    resize(760, 420);
}

bool TTrafficMonitor::Paused() const { return pause_->isChecked(); }

void TTrafficMonitor::Add(std::string line)
{
    if (Paused())
        return;
    text_->appendPlainText(QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size())));
    log_.Add(std::move(line));
}

void TTrafficMonitor::Clear()
{
    log_.Clear();
    text_->clear();
}

void TTrafficMonitor::Copy() { QApplication::clipboard()->setText(QString::fromLatin1(log_.Text())); }

void TTrafficMonitor::Save()
{
    const QString path = dialogs_.SaveFileName(this, QStringLiteral("Save Traffic"), QStringLiteral("traffic.txt"),
                                               QStringLiteral("Text files (*.txt);;All files (*)"));
    if (!path.isEmpty())
        WriteFile(dialogs_, this, path, QByteArray::fromStdString(log_.Text()));
}

TLineStatisticsView::TLineStatisticsView(app::LineStatistics& counts, QWidget* parent)
    : QWidget(parent, Qt::Window), counts_(counts)
{
    setObjectName(QStringLiteral("LineStatistics"));
    setWindowTitle(QStringLiteral("Line Statistics"));
    auto* column = new QVBoxLayout(this);
    table_ = new QTableWidget(0, 11);
    table_->setObjectName(QStringLiteral("LineStatisticsTable"));
    table_->setAccessibleName(QStringLiteral("Line statistics per address"));
    table_->setHorizontalHeaderLabels({QStringLiteral("Address"), QStringLiteral("Requests"), QStringLiteral("Replies"),
                                       QStringLiteral("Time-outs"), QStringLiteral("Bad checksums"),
                                       QStringLiteral("Unmatched"), QStringLiteral("Exceptions"), QStringLiteral("Late"),
                                       QStringLiteral("Last ms"), QStringLiteral("Median ms"), QStringLiteral("Max ms")});
    table_->verticalHeader()->setVisible(false);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    column->addWidget(table_, 1);
    hint_ = new QLabel;
    hint_->setObjectName(QStringLiteral("LineStatisticsHint"));
    hint_->setWordWrap(true);
    column->addWidget(hint_);
    auto* reset = NamedButton("LineStatisticsReset", QStringLiteral("Reset"));
    column->addWidget(reset, 0, Qt::AlignLeft);
    connect(reset, &QPushButton::clicked, this, &TLineStatisticsView::Reset);
    resize(760, 260);
    Refresh();
}

void TLineStatisticsView::Refresh()
{
    const auto& all = counts_.ByAddress();
    table_->setRowCount(static_cast<int>(all.size()));
    QStringList hints;
    int row = 0;
    auto ms = [](std::optional<double> v) { return v ? QString::number(*v, 'f', 1) : QString(); };
    for (const auto& [address, s] : all) {
        const QString cells[] = {QString::number(address), QString::number(s.requests), QString::number(s.replies),
                                 QString::number(s.timeouts), QString::number(s.badChecksums),
                                 QString::number(s.unmatched), QString::number(s.exceptions), QString::number(s.late),
                                 ms(s.lastMs), ms(s.MedianMs()), ms(s.MaxMs())};
        for (int c = 0; c < 11; ++c)
            table_->setItem(row, c, new QTableWidgetItem(cells[c]));
        if (const std::string h = s.Hint(); !h.empty())
            hints << QStringLiteral("Address %1: %2").arg(address).arg(QString::fromStdString(h));
        ++row;
    }
    hint_->setText(hints.join(QLatin1Char('\n')));
}

void TLineStatisticsView::Reset()
{
    counts_.Reset();
    Refresh();
}

TTrendView::TTrendView(IDialogService& dialogs, QWidget* parent) : QWidget(parent, Qt::Window), dialogs_(dialogs)
{
    setObjectName(QStringLiteral("TrendAndLog"));
    setWindowTitle(QStringLiteral("Trend and Log"));
    auto* column = new QVBoxLayout(this);
    series_ = new QLineSeries;
    chart_ = new QChart;
    chart_->addSeries(series_);
    chart_->legend()->hide();
    time_ = new QDateTimeAxis;
    time_->setFormat(QStringLiteral("HH:mm:ss"));
    values_ = new QValueAxis;
    chart_->addAxis(time_, Qt::AlignBottom);
    chart_->addAxis(values_, Qt::AlignLeft);
    series_->attachAxis(time_);
    series_->attachAxis(values_);
    auto* view = new QChartView(chart_);
    view->setObjectName(QStringLiteral("TrendChart"));
    view->setAccessibleName(QStringLiteral("Trend of the looped value"));
    view->setRenderHint(QPainter::Antialiasing);
    column->addWidget(view, 1);
    auto* row = new QHBoxLayout;
    minutes_ = new QSpinBox;
    minutes_->setObjectName(QStringLiteral("TrendMinutes"));
    minutes_->setAccessibleName(QStringLiteral("Minutes shown"));
    minutes_->setRange(1, 1440);
    minutes_->setValue(10);
    minutes_->setSuffix(QStringLiteral(" min"));
    auto* start = NamedButton("TrendLogStart", QStringLiteral("Log to CSV..."));
    auto* stop = NamedButton("TrendLogStop", QStringLiteral("Stop Log"));
    logFile_ = new QLabel;
    logFile_->setObjectName(QStringLiteral("TrendLogFile"));
    row->addWidget(new QLabel(QStringLiteral("Last")));
    row->addWidget(minutes_);
    row->addWidget(start);
    row->addWidget(stop);
    row->addWidget(logFile_, 1);
    column->addLayout(row);
    connect(start, &QPushButton::clicked, this, &TTrendView::StartLog);
    connect(stop, &QPushButton::clicked, this, &TTrendView::StopLog);
    resize(760, 420);
}

TTrendView::~TTrendView() { StopLog(); }

int TTrendView::PointCount() const { return static_cast<int>(series_->count()); }

void TTrendView::Add(const LoopSample& s)
{
    const QDateTime now = QDateTime::currentDateTime();
    if (s.value) {
        series_->append(static_cast<qreal>(now.toMSecsSinceEpoch()), *s.value);
        // Only the chosen window of time is kept.
        const qint64 oldest = now.toMSecsSinceEpoch() - qint64(minutes_->value()) * 60000;
        int drop = 0;
        while (drop < series_->count() && series_->at(drop).x() < static_cast<qreal>(oldest))
            ++drop;
        if (drop > 0)
            series_->removePoints(0, drop);
        const QList<QPointF> points = series_->points();
        const auto [lo, hi] = std::minmax_element(points.begin(), points.end(),
                                                  [](const QPointF& a, const QPointF& b) { return a.y() < b.y(); });
        const double pad = std::max(1e-6, (hi->y() - lo->y()) * 0.05);
        values_->setRange(lo->y() - pad, hi->y() + pad);
        time_->setRange(QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(points.front().x())),
                        std::max(now, QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(points.front().x()) + 1000)));
    }
    values_->setTitleText(s.unit);
    chart_->setTitle(s.channel + QStringLiteral("  ") + s.quantity);
    if (csv_.isOpen()) {
        const std::string row = app::CsvRow(now.toString(Qt::ISODateWithMs).toStdString(), s.channel.toStdString(),
                                            s.quantity.toStdString(), s.status.toStdString(), s.valueText.toStdString(),
                                            s.unit.toUtf8().toStdString(), s.heartbeat.toStdString()) + "\n";
        // Line by line, so a stop of the program loses nothing written before it.
        if (csv_.write(row.data(), static_cast<qint64>(row.size())) != static_cast<qint64>(row.size()) || !csv_.flush()) {
            const QString error = csv_.errorString();
            csv_.close();
            logFile_->setText(QString());
            dialogs_.ShowException(this, QStringLiteral("The log stopped: %1").arg(error));
        }
    }
}

void TTrendView::StartLog()
{
    StopLog();
    const QString path = dialogs_.SaveFileName(this, QStringLiteral("Log to CSV"), QStringLiteral("tarnwick-log.csv"),
                                               QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (path.isEmpty())
        return;
    csv_.setFileName(path);
    const bool exists = csv_.exists() && csv_.size() > 0;
    if (!csv_.open(QIODevice::WriteOnly | QIODevice::Append)) {
        dialogs_.ShowException(this, QStringLiteral("Could not open %1: %2").arg(path, csv_.errorString()));
        return;
    }
    if (!exists) {
        const std::string header = app::CsvHeader() + "\n";
        csv_.write(header.data(), static_cast<qint64>(header.size()));
        csv_.flush();
    }
    logFile_->setText(path);
}

void TTrendView::StopLog()
{
    if (csv_.isOpen())
        csv_.close();
    if (logFile_)
        logFile_->setText(QString());
}

}  // namespace tarnwick
