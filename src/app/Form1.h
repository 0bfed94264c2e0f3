#pragma once
// The main window, a view over the station: it shows what the station reports
// and hands it the user's commands. The start-up sequence, shutdown and the
// handlers keep their names; the run's state is the station's.
#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QStringList>
#include <QTimer>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "app/AppEnvironment.h"
#include "app/ImportMenu.h"
#include "app/StationView.h"
#include "app/TelemetryChart.h"
#include "app/TelemetryPanel.h"
#include "app/WindowWidgets.h"
#include "run/Station.h"
#include "telemetry/FrameLayout.h"

QT_BEGIN_NAMESPACE
class QAction;
class QFileDialog;
QT_END_NAMESPACE

namespace tavrik {

class EventLogView;
class Info;
class SkyView;
class LimitsView;

class Form1 : public QMainWindow, public WindowWidgets {
    Q_OBJECT
  public:
    // A view over the station, which outlives it.
    Form1(Station& station, AppEnvironment env, QWidget* parent = nullptr);
    // With a station of its own, made from env (tests, benchmarks).
    explicit Form1(AppEnvironment env = {}, QWidget* parent = nullptr);
    ~Form1() override;

    // ---- handlers (called by their events, and from code where the design says so)
    void Form_Load();
    void Form_Resize();
    void Form_QueryUnload();
    void Form_Unload();
    void MnuImport_Click();
    void MnuExit_Click();
    void MnuDebug_Click();
    void MnuAbout_Click();
    void Command1_Click();
    void Command2_Click();
    void Post_Packet_Click();
    void Option1_Click(int index);
    void Timer1_Timer();
    // A live frame heard: its call signs (the frame itself went its way in the station).
    void Winsock1_DataArrival(const HeardFrame& heard);
    void Inet1_StateChanged(const TransferReport& report);

    // ---- operations other parts call
    void RefreshChart(int field);
    // The chart after live records: drawn at most about four times a second.
    void FollowChart();
    void ShowTelemetryRecord(std::int32_t number);
    void ShowCounters(); // Label7
    // The import of the files chosen in the dialog, in order; runs in slices.
    void ImportFiles(const QStringList& paths);
    bool ImportRunning() const { return import_->Running(); }

    // ---- the event log
    void Log(const std::string& text) { station_.Log(text); }
    void Log(const QString& text) { Log(text.toUtf8().toStdString()); }
    const EventLog& Events() const { return station_.Events(); }

    // ---- what the window shows, read by the tests and the benchmarks
    Station& Run() { return station_; }
    const StationConfig& Config() const { return station_.Config(); }
    const TelemetryHistory& History() const { return station_.History(); }
    const FramePipeline& Pipeline() const { return station_.Pipeline(); }
    FramePipeline& Pipeline() { return station_.Pipeline(); }
    int ChartField() const { return chartField_; }
    const TelemetryPanel& Panel() const { return panel_; }
    const StationLimits& Limits() const { return station_.Limits(); }
    StationSky& Sky() { return station_.Sky(); }
    SkyView* SkyWindow() const { return skyView_; }
    StationWeb& Web() { return station_.Web(); }
    std::int32_t PostOkCount() const { return station_.PostOkCount(); }
    bool HandshakePending() const { return station_.Modem().HandshakePending(); }
    const QString& ConfigPath() const { return station_.ConfigPath(); }
    const QString& ImagePath() const { return station_.ImagePath(); }
    const QString& ProgramFolder() const { return station_.ProgramFolder(); }
    const KissLog& Kiss() const { return station_.Kiss(); }
    ModemLink& Winsock1() { return station_.Modem().Link(); }
    Uploader& Inet1() { return station_.Route().Plain(); }
    const std::string& Text2() const { return import_->Listing(); } // every imported frame's text
    const QStringList& List2() const { return import_->Files(); }
    const QStringList& List3() const { return list3_; }
    const QImage& Picture2() const { return picture2_; }
    // The chart as last built: one value and one row label per stored record.
    const std::vector<double>& ChartValues() const { return MSChart1->Values(); }
    const QStringList& ChartRowLabels() const { return MSChart1->RowLabels(); }
    QString Frame5Caption() const { return Frame5->title(); }
    bool LampGreen() const { return !Image2->isHidden(); }
    QWidget* ClientArea() const { return centralWidget(); }

    // ---- components and menus, by the names the design gives them
    QTimer* Timer1 = nullptr;
    QPointer<Info> InfoWindow;

    // The converter started after a screenshot; found next to the program, then on PATH.
    QString ConverterProgram() const;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    Form1(std::unique_ptr<Station>&& own, Station* station, AppEnvironment env, QWidget* parent);
    void BuildWindow();
    void ShowOpenError(const ConfigError& failure);
    void ShowSky();
    void ImportFileFinished();
    void SetLamp(bool green);

    // The station: its own (tests) or the program's.
    std::unique_ptr<Station> ownStation_;
    Station& station_;
    const Clock& clock_;
    std::unique_ptr<MessagePresenter> ownMessages_;
    MessagePresenter* messages_;
    std::function<QString()> findConverter_;

    int chartField_ = kDefaultChartField;
    StationView view_{*this};
    LimitsView* limitsView_ = nullptr;
    SkyView* skyView_ = nullptr;
    bool unloaded_ = false;

    // working widgets, as plain data
    QStringList list3_;
    QImage picture2_;
    ImportMenu* import_ = nullptr;
};

} // namespace tavrik
