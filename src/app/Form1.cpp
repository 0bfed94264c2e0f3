#include "app/Form1.h"

#include <QAction>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QMenu>
#include <QMenuBar>

#include "app/ArchiveChart.h"
#include "app/EventLogView.h"
#include "app/ImportMenu.h"
#include "app/Info.h"
#include "app/Look.h"
#include "app/Screenshot.h"
#include "app/SkyView.h"
#include "app/TelemetryExportAction.h"
#include "files/DebugFile.h"
#include "intake/qt/ArrivedFrames.h"
#include "support/qt/QtText.h"
#include "time/TimeArgument.h"
#include "upload/UploadStatus.h"

namespace tavrik {

Form1::Form1(AppEnvironment env, QWidget* parent)
    : QMainWindow(parent),
      programFolder_(env.programFolder.isEmpty() ? QCoreApplication::applicationDirPath()
                                                 : env.programFolder),
      ownClock_(env.clock ? nullptr : std::make_unique<SystemClock>()),
      clock_(env.clock ? env.clock : ownClock_.get()),
      ownMessages_(env.messages ? nullptr : std::make_unique<BoxPresenter>(this)),
      messages_(env.messages ? env.messages : ownMessages_.get()),
      findConverter_(std::move(env.findConverter)), startupNotes_(std::move(env.startupNotes)),
      pipeline_(*clock_, config_, history_, [this](const std::string& t) { Log(t); }) {
    BuildWindow();
    // After the KISS log record (InfluxDB first, from its member): uploads, archive, window.
    pipeline_.AddConsumer(uploads_);
    pipeline_.AddConsumer(archive_);
    pipeline_.AddConsumer(view_);
    uploads_.SetAllowed(Check1->isChecked());
    connect(Check1, &QCheckBox::toggled, this, [this](bool on) { uploads_.SetAllowed(on); });

    connect(&modem_, &ModemConnection::dataArrived, this, &Form1::Winsock1_DataArrival);
    connect(&inet1_, &UploadRoute::runStarted, this, [this] { list3_.clear(); });
    connect(&inet1_, &UploadRoute::stateChanged, this, &Form1::Inet1_StateChanged);
    connect(&inet1_, &UploadRoute::logLine, this, [this](const QString& t) { Log(t); });

    Timer1 = new QTimer(this);
    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
    Timer1->start(1000);

    arrived_ = new ArrivedFrames([this](const AgwFrame& frame) { HandleArrivedFrame(frame); },
                                 [this](bool paused) { modem_.Link().SetPaused(paused); }, this);

    import_ = new ImportMenu(MnuImport, this, Label5, pipeline_, programFolder_,
                             [this](const QString& t) { Log(t); });
    connect(import_, &ImportMenu::fileFinished, this, &Form1::ImportFileFinished);

    Form_Load();
}

Form1::~Form1() {
    Form_Unload();
    eventLog_.onAdded = nullptr;
}

void Form1::BuildWindow() {
    BuildWidgets(this, history_);
    connect(panel_.Choices(), &QButtonGroup::idClicked, this, &Form1::Option1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(MnuImport, &QAction::triggered, this, &Form1::MnuImport_Click);
    connect(MnuExit, &QAction::triggered, this, &Form1::MnuExit_Click);
    connect(MnuDebug, &QAction::triggered, this, &Form1::MnuDebug_Click);
    new TelemetryExportAction(MnuExport, this, history_, programFolder_, *clock_, config_,
                              [this](const QString& t) { Log(t); });
    connect(MnuAbout, &QAction::triggered, this, &Form1::MnuAbout_Click);
    Text3->Follow(eventLog_);
}

void Form1::Form_Load() {
    // 1. counters and handshake flag: their initial values are set by construction.
    // 2. paths
    configPath_ = programFolder_ + QStringLiteral("/online_conf.ini");
    imagePath_ = programFolder_ + QStringLiteral("/");
    for (const std::string& note : startupNotes_)
        Log(note);
    // 3.-9., any failure ends the sequence with one message.
    try {
        ReadStationConfig();
        modem_.SetReconnect(config_.agwReconnect);
        modem_.Open(config_.modem.value()); // "Winsock Remote..." lines, then the connection

        if (std::string why = OpenKissLog(); !why.empty())
            throw ConfigError{kOpenErrorKissLog, "KISS log cannot be created: " + why};
        // After the modem and the log: a queue that fails never keeps frames from being heard.
        inet1_.OpenQueues(PathBytes(programFolder_));
        limits_.Start(pipeline_, config_, programFolder_, panel_, *MSChart1);
        archive_.Start(config_, programFolder_); // and catches up with the KISS logs
        AttachArchiveChart(this, *this, history_, archive_.Service(), *clock_);
        StartSky();
        panel_.LabelFields();
        Form_Resize(); // the screenshot buffer takes the client area's size
        Option1_Click(kDefaultChartField);
    } catch (const ConfigError& failure) {
        ShowOpenError(failure);
    } catch (const std::exception& e) {
        ShowOpenError({kOpenErrorOther, e.what()});
    }
}

void Form1::StartSky() {
    sky_.Start(config_, programFolder_, pipeline_, [this] { return modem_.Connected(); });
    web_.Api().SetSky(sky_.State());
    // RIG / ROTATOR follow the sky; without it they say so and stay idle.
    radio_.Start(config_, sky_.State() ? std::make_shared<SkyStateTrack>(*sky_.State()) : nullptr);
    web_.Api().SetRadio([this] { return radio_.Status(); });
    if (!sky_.State()) return;
    QLabel* line = look::Label(centralWidget(), QString(), look::Tw(2160, 345, 8295, 225), false,
                               Qt::AlignRight);
    line->setObjectName(QStringLiteral("SkyLine"));
    QFont small = line->font();
    small.setPixelSize(11);
    line->setFont(small);
    skyView_ = new SkyView(
        sky_, line, Line1, menuBar()->findChild<QMenu*>(QStringLiteral("MnuOptions")),
        [this] { return archive_.Running() ? archive_.Service().ArchivePath() : QString(); },
        [this] { return UnixMillisecondsNow(*clock_); }, this);
    skyView_->SetLineSuffix([this] { return radio_.PassLine(); });
}

void Form1::ReadStationConfig() {
    StationConfig defaults;
    defaults.imagePath = PathBytes(imagePath_);
    ConfigReadResult r = ReadStationConfigFile(PathBytes(configPath_), defaults);
    eventLog_.SetLimit((config_ = r.config).eventLogLines); // the box follows the log
    imagePath_ = PathFromBytes(config_.imagePath);
    if (config_.screenshot) Command2->setEnabled(*config_.screenshot);
    // A bad PORT still means the file was read: its settings line is written first.
    if (!r.error || r.error->number == kOpenErrorBadPort) {
        Log(SettingsLine(config_));
        if (const std::string extensions = ExtensionsLine(config_); !extensions.empty())
            Log(extensions);
    }
    if (r.error) throw *r.error;
}

void Form1::ShowOpenError(const ConfigError& failure) {
    messages_->Show(MessagePresenter::Icon::Critical, QStringLiteral("Open Error"),
                    Latin1Text(OpenErrorText(failure)));
}

void Form1::Form_Resize() {
    if (centralWidget()) picture2_ = QImage(centralWidget()->size(), QImage::Format_RGB32);
}

void Form1::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    Form_Resize();
}

void Form1::Form_QueryUnload() {
    inet1_.CancelAll();
    import_->Stop();
}

void Form1::Form_Unload() {
    if (unloaded_) return;
    unloaded_ = true;
    Timer1->stop();
    modem_.Close();
    LogArrivedFrames();
    kissLog_.Close();
    kissLog_.RemoveIfEmpty();
    if (InfoWindow) InfoWindow->close();
}

void Form1::closeEvent(QCloseEvent* event) {
    Form_QueryUnload();
    Form_Unload();
    event->accept();
}

void Form1::LogArrivedFrames() {
    // Frames received but not yet handled still go to the log: none is lost.
    for (const AgwFrame& frame : arrived_->TakeRest())
        if (frame.Kind() == 'K' && kissLog_.IsOpen())
            kissLog_.AppendFrame(UtcTimestamp(*clock_), frame.data);
}

void Form1::MnuExit_Click() {
    LogArrivedFrames();
    kissLog_.Close();
    kissLog_.RemoveIfEmpty();
    close();
}

void Form1::MnuAbout_Click() {
    Info::ShowOne(InfoWindow);
}

void Form1::Log(const std::string& text) {
    eventLog_.Prepend(UtcTimestamp(*clock_), text);
}

// ------------------------------------------------------------------ modem link
void Form1::Command1_Click() {
    modem_.Handshake();
}

void Form1::Winsock1_DataArrival() {
    arrived_->Add(modem_.Link().TakeFrames());
}

void Form1::HandleArrivedFrame(const AgwFrame& frame) {
    if (frame.Kind() == 'K') pipeline_.ProcessRawFrame(frame.data);
    if (frame.Kind() == 'G') Log(PortInfoLine(frame));
}

void Form1::ShowCounters() {
    Label7->setText(QStringLiteral("RX packets: %1 | HTTP POST OK: %2")
                        .arg(history_.RxPacketCount())
                        .arg(inet1_.PostOkCount()));
}

std::string Form1::OpenKissLog() {
    const std::string name =
        KissLogName(PathBytes(programFolder_), config_.mycall, UtcNow(*clock_));
    std::string why = kissLog_.Open(name);
    if (why.empty()) pipeline_.SetKissLog(&kissLog_);
    return why;
}

void Form1::Post_Packet_Click() {
    inet1_.Post(pipeline_.UploadBody());
}

void Form1::Inet1_StateChanged(const TransferReport& report) {
    list3_.append(Latin1Text(TransferStateName(report.state)));
    if (report.state == TransferState::Error) {
        Log(report.logLine);
    } else if (report.state == TransferState::ResponseCompleted) {
        ShowCounters(); // the route counted it
        Log(report.logLine);
        if (JudgeResponse(report.httpStatus).addAccessDeniedLine)
            eventLog_.PrependRaw(std::string(kAccessDeniedLine));
    }
}

void Form1::Option1_Click(int index) {
    if (index < 0 || index >= kFieldCount) return;
    chartField_ = index;
    panel_.Select(index);
    RefreshChart(index);
}

void Form1::RefreshChart(int field) {
    if (field < 0 || field >= kFieldCount) return;
    const QString caption = panel_.ChartCaption(field);
    Frame5->setTitle(caption);
    MSChart1->Rebuild(field, caption);
}

void Form1::ShowTelemetryRecord(std::int32_t number) {
    if (!history_.IsStored(number)) return;
    const TelemetryRecord& record = history_.Record(number);
    panel_.ShowRecord(record);
    Label5->setText(QStringLiteral("last packet: ") + Latin1Text(record.timestamp));
}

void Form1::Timer1_Timer() {
    Label1->setText(Latin1Text(FormatClockLabel(UtcNow(*clock_))));
    SetLamp(modem_.LampGreen());
}

void Form1::SetLamp(bool green) {
    Image2->setVisible(green);
    Image3->setVisible(!green);
}

void Form1::MnuImport_Click() {
    import_->Open();
}

void Form1::ImportFiles(const QStringList& paths) {
    import_->Start(paths);
}

void Form1::ImportFileFinished() {
    // Selects the default field and rebuilds its chart: no second refresh needed.
    Option1_Click(kDefaultChartField);
    ShowTelemetryRecord(history_.RxPacketCount());
    Label7->setText(QStringLiteral("KISS packets: ") + QString::number(history_.RxPacketCount()) +
                    QStringLiteral(" "));
}

void Form1::MnuDebug_Click() {
    const std::string name =
        DebugFileName(PathBytes(programFolder_), config_.mycall, UtcNow(*clock_));
    const DebugFileOutcome outcome =
        WriteDebugFile(name, eventLog_.DebugText(), import_->Listing(), PathBytes(configPath_));
    if (!outcome.configRead)
        Log("debug file: the configuration " + Latin1Bytes(configPath_) +
            " cannot be read; written without it");
    if (!outcome.written) Log("debug file " + name + " could not be written");
}

QString Form1::ConverterProgram() const {
    return findConverter_ ? findConverter_() : screenshot::FindConverter();
}

void Form1::Command2_Click() {
    const screenshot::Outcome shot = screenshot::Take(centralWidget(), picture2_, imagePath_,
                                                      clock_->Read(), ConverterProgram());
    if (!shot.saved) return Log("screenshot " + Latin1Bytes(shot.name) + " could not be saved");
    Label1->setText(shot.name + QStringLiteral(" saved")); // until the next tick
    if (shot.converterStarted) // at the end of the log, without timestamp
        eventLog_.AppendRaw(Latin1Bytes(screenshot::ConvertedLine(shot.name)));
    else
        messages_->Show(MessagePresenter::Icon::Information, QStringLiteral("Error"),
                        QStringLiteral("nconvert.exe not found"));
}

} // namespace tavrik
