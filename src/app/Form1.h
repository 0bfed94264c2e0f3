#pragma once
// The main window: its widgets, menus, start-up sequence and shutdown. It
// wires the logic together and owns the run's state.
#include <QCheckBox>
#include <QElapsedTimer>
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
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/EventLog.h"
#include "files/KissFileReader.h"
#include "files/KissLog.h"
#include "files/StationConfig.h"
#include "intake/FramePipeline.h"
#include "intake/qt/AgwClient.h"
#include "telemetry/FrameLayout.h"
#include "telemetry/TelemetryHistory.h"
#include "time/Clock.h"
#include "upload/qt/Uploader.h"

QT_BEGIN_NAMESPACE
class QAction;
class QChart;
class QChartView;
class QLineSeries;
class QValueAxis;
class QCategoryAxis;
class QFileDialog;
QT_END_NAMESPACE

namespace tavrik {

class EventLogView;
class Info;

// Message boxes go through this, so tests can answer them without a dialog.
class MessagePresenter {
  public:
    enum class Icon { Information, Critical };
    virtual ~MessagePresenter() = default;
    // Shows the message and returns at once (the box does not block the loop).
    virtual void Show(Icon icon, const QString& title, const QString& text) = 0;
};

struct AppEnvironment {
    QString programFolder;                // the folder of the executable by default
    const Clock* clock = nullptr;         // the system clock by default
    MessagePresenter* messages = nullptr; // real message boxes by default
    // Where the screenshot converter is; by default next to the program, then on PATH.
    std::function<QString()> findConverter;
};

class Form1 : public QMainWindow, private PipelineView {
    Q_OBJECT
  public:
    explicit Form1(AppEnvironment env = {}, QWidget* parent = nullptr);
    ~Form1() override;

    static constexpr int kClientWidth = 703;
    static constexpr int kClientHeight = 828;

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
    void Winsock1_Connect();
    void Winsock1_DataArrival();
    void Winsock1_Error(int number, const QString& description);
    void Inet1_StateChanged(int state);

    // ---- operations other parts call
    void OpenAgwSession(const QString& host, int port);
    std::string OpenKissLog(); // empty on success
    void RefreshChart(int field);
    void ShowTelemetryRecord(std::int32_t number);
    // The import of the files chosen in the dialog, in order; runs in slices.
    void ImportFiles(const QStringList& paths);
    bool ImportRunning() const { return import_.has_value(); }

    // ---- the event log
    void Log(const std::string& text) override;
    void Log(const QString& text) { Log(text.toLatin1().toStdString()); }
    const EventLog& Events() const { return eventLog_; }

    // ---- state, read by the tests and the benchmarks
    const StationConfig& Config() const { return config_; }
    const TelemetryHistory& History() const { return history_; }
    const FramePipeline& Pipeline() const { return pipeline_; }
    FramePipeline& Pipeline() { return pipeline_; }
    int ChartField() const { return chartField_; }
    std::int32_t PostOkCount() const { return postOkCount_; }
    bool HandshakePending() const { return handshakePending_; }
    const QString& ConfigPath() const { return configPath_; }
    const QString& ImagePath() const { return imagePath_; }
    const QString& ProgramFolder() const { return programFolder_; }
    const KissLog& Kiss() const { return kissLog_; }
    AgwClient& Winsock1() { return winsock1_; }
    Uploader& Inet1() { return inet1_; }
    const std::string& Text2() const { return text2_; }
    const QStringList& List1() const { return list1_; }
    const QStringList& List2() const { return list2_; }
    const QStringList& List3() const { return list3_; }
    const QImage& Picture2() const { return picture2_; }
    // The chart as last built: one value and one row label per stored record.
    const std::vector<double>& ChartValues() const { return chartValues_; }
    const QStringList& ChartRowLabels() const { return chartLabels_; }
    QString Frame5Caption() const;
    bool LampGreen() const;
    QWidget* ClientArea() const { return centralWidget(); }

    // ---- widgets, by the names the design gives them
    std::array<QRadioButton*, kFieldCount> Option1{};
    std::array<QLineEdit*, kFieldCount> Text1{};
    std::array<QLabel*, kFieldCount> Label2{};
    QGroupBox* Frame2 = nullptr;
    QGroupBox* Label2Label2 = nullptr;
    QGroupBox* Frame4 = nullptr;
    QGroupBox* Frame3 = nullptr;
    QGroupBox* Frame5 = nullptr;
    QLabel* Image2 = nullptr;
    QLabel* Image3 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label7 = nullptr;
    QPushButton* Command2 = nullptr;
    QCheckBox* Check1 = nullptr;
    QFrame* Line1 = nullptr;
    QFrame* Line2 = nullptr;
    EventLogView* Text3 = nullptr;
    QTimer* Timer1 = nullptr;
    QAction* MnuImport = nullptr;
    QAction* MnuExit = nullptr;
    QAction* MnuDebug = nullptr;
    QAction* MnuAbout = nullptr;
    QPointer<Info> InfoWindow;

    // The converter started after a screenshot; found next to the program, then on PATH.
    QString ConverterProgram() const;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    struct StartupFailure {
        int number;
        std::string description;
    };

    // PipelineView
    void ShowCallSigns(const std::string& text) override;
    bool UploadAllowed() const override;
    void Upload(const std::string& body) override;
    void RefreshChart() override { RefreshChart(chartField_); }
    void ShowCounters() override;

    void BuildWindow();
    void BuildMenus();
    void BuildPanel();
    void BuildChart();
    void LabelPanel();
    void ReadStationConfig();
    void ShowOpenError(const StartupFailure& failure);
    void ImportSlice();
    void ProcessArrivedFrames();
    void LogArrivedFrames();
    void StartNextImportFile();
    void FinishImportFile();
    void EndImport();
    void ProcessImportedRecord(const KissRecord& record);
    void SetLamp(bool green);

    // environment
    QString programFolder_;
    std::unique_ptr<Clock> ownClock_;
    const Clock* clock_;
    std::unique_ptr<MessagePresenter> ownMessages_;
    MessagePresenter* messages_;
    std::function<QString()> findConverter_;

    // the run's state
    StationConfig config_;
    TelemetryHistory history_;
    std::int32_t postOkCount_ = 0;
    bool handshakePending_ = true;
    QString configPath_;
    QString imagePath_;
    int chartField_ = 5;
    KissLog kissLog_;
    FramePipeline pipeline_;
    AgwClient winsock1_;
    Uploader inet1_;
    EventLog eventLog_;
    bool unloaded_ = false;

    // working widgets, as plain data
    QStringList list1_;
    QStringList list2_;
    QStringList list3_;
    std::string text2_;
    QImage picture2_;

    // the chart
    QChart* chart_ = nullptr;
    QChartView* chartView_ = nullptr;
    QLineSeries* series_ = nullptr;
    QValueAxis* axisY_ = nullptr;
    QCategoryAxis* axisX_ = nullptr;
    std::vector<double> chartValues_;
    QStringList chartLabels_;

    // the import in progress
    struct ImportState {
        QStringList files;
        int next = 0;
        QString path;
        std::unique_ptr<KissFileReader> reader;
        std::vector<KissRecord> records;
        std::size_t recordIndex = 0;
        bool readingDone = false;
    };
    std::optional<ImportState> import_;
    QTimer* importTimer_ = nullptr;

    // Whole AGW frames received and not yet handled: a burst is worked off a
    // few milliseconds at a time, so the window never freezes behind it.
    std::deque<AgwFrame> arrived_;
    QTimer* arrivalTimer_ = nullptr;
    QPointer<QFileDialog> importDialog_;
};

} // namespace tavrik
