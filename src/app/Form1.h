#pragma once
// The main window: the start-up sequence, shutdown and the handlers. It wires
// the window's parts (widgets, panel, chart, import) to the logic and owns the
// run's state.
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
#include "app/EventLog.h"
#include "app/ImportMenu.h"
#include "app/StationLimits.h"
#include "app/StationView.h"
#include "app/TelemetryChart.h"
#include "app/TelemetryPanel.h"
#include "app/WindowWidgets.h"
#include "files/KissLog.h"
#include "files/StationConfig.h"
#include "intake/qt/AgwClient.h"
#include "intake/qt/ModemConnection.h"
#include "radio/qt/Radio.h"
#include "station/FramePipeline.h"
#include "station/SkyStateTrack.h"
#include "station/qt/StationArchive.h"
#include "station/qt/StationInflux.h"
#include "station/qt/StationSky.h"
#include "station/qt/StationUploads.h"
#include "telemetry/FrameLayout.h"
#include "telemetry/TelemetryHistory.h"
#include "time/Clock.h"
#include "time/TimeArgument.h"
#include "upload/qt/UploadRoute.h"
#include "web/StationWeb.h"

QT_BEGIN_NAMESPACE
class QAction;
class QFileDialog;
QT_END_NAMESPACE

namespace tavrik {

class ArrivedFrames;
class EventLogView;
class Info;
class SkyView;

class Form1 : public QMainWindow, public WindowWidgets {
    Q_OBJECT
  public:
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
    void Winsock1_DataArrival();
    void Inet1_StateChanged(const TransferReport& report);

    // ---- operations other parts call
    std::string OpenKissLog(); // empty on success
    void RefreshChart(int field);
    void ShowTelemetryRecord(std::int32_t number);
    void ShowCounters(); // Label7
    // The import of the files chosen in the dialog, in order; runs in slices.
    void ImportFiles(const QStringList& paths);
    bool ImportRunning() const { return import_->Running(); }

    // ---- the event log
    void Log(const std::string& text);
    void Log(const QString& text) { Log(text.toLatin1().toStdString()); }
    const EventLog& Events() const { return eventLog_; }

    // ---- state, read by the tests and the benchmarks
    const StationConfig& Config() const { return config_; }
    const TelemetryHistory& History() const { return history_; }
    const FramePipeline& Pipeline() const { return pipeline_; }
    FramePipeline& Pipeline() { return pipeline_; }
    int ChartField() const { return chartField_; }
    const TelemetryPanel& Panel() const { return panel_; }
    const StationLimits& Limits() const { return limits_; }
    StationSky& Sky() { return sky_; }
    SkyView* SkyWindow() const { return skyView_; }
    StationWeb& Web() { return web_; }
    std::int32_t PostOkCount() const { return inet1_.PostOkCount(); }
    InfluxStatus Influx() const { return influx_.Status(); } // the InfluxDB lane, as values
    bool HandshakePending() const { return modem_.HandshakePending(); }
    const QString& ConfigPath() const { return configPath_; }
    const QString& ImagePath() const { return imagePath_; }
    const QString& ProgramFolder() const { return programFolder_; }
    const KissLog& Kiss() const { return kissLog_; }
    ModemLink& Winsock1() { return modem_.Link(); }
    Uploader& Inet1() { return inet1_.Plain(); }
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
    void BuildWindow();
    void ReadStationConfig();
    void StartSky();
    void ShowOpenError(const ConfigError& failure);
    void HandleArrivedFrame(const AgwFrame& frame);
    void LogArrivedFrames();
    void ImportFileFinished();
    void SetLamp(bool green);

    // environment
    QString programFolder_;
    std::unique_ptr<Clock> ownClock_;
    const Clock* clock_;
    std::unique_ptr<MessagePresenter> ownMessages_;
    MessagePresenter* messages_;
    std::function<QString()> findConverter_;
    std::vector<std::string> startupNotes_;

    // the run's state
    StationConfig config_;
    TelemetryHistory history_;
    QString configPath_;
    QString imagePath_;
    int chartField_ = kDefaultChartField;
    KissLog kissLog_;
    FramePipeline pipeline_;
    ModemConnection modem_{[this](const std::string& text) { Log(text); }};
    UploadRoute inet1_{config_};
    StationUploads uploads_{inet1_};
    StationInflux influx_{pipeline_, config_, programFolder_, *clock_,
                          [this](const QString& t) { Log(t); }};
    StationView view_{*this};
    StationLimits limits_{[this](const std::string& t) { Log(t); }};
    EventLog eventLog_;
    StationArchive archive_{*clock_, [this](const QString& t) { Log(t); }};
    // The web page: consumer, modem, uploads, archive and event log wired in, served
    // once the start-up sequence has read the settings.
    StationWeb web_{*clock_, [this](const std::string& t) { Log(t); }, config_,
                    StationWeb::Station{pipeline_, modem_, inet1_, archive_}, eventLog_};
    // The sky (TLE=): frames placed on it, passes watched; its line and plot.
    StationSky sky_{*clock_, [this](const std::string& t) { Log(t); }};
    SkyView* skyView_ = nullptr;
    Radio radio_{[this](const std::string& t) { Log(t); },
                 [this] { return UnixMillisecondsNow(*clock_); }};
    bool unloaded_ = false;

    // working widgets, as plain data
    QStringList list3_;
    QImage picture2_;
    ImportMenu* import_ = nullptr;
    ArrivedFrames* arrived_ = nullptr;
};

} // namespace tavrik
