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
#include "app/LimitsView.h"
#include "app/Look.h"
#include "app/Screenshot.h"
#include "app/SkyView.h"
#include "app/TelemetryExportAction.h"
#include "files/DebugFile.h"
#include "support/qt/QtText.h"
#include "telemetry/FrameText.h"
#include "time/TimeArgument.h"
#include "upload/UploadStatus.h"

namespace tavrik {

namespace {

std::unique_ptr<Station> OwnStation(const AppEnvironment& env) {
    StationEnvironment own;
    own.programFolder = env.programFolder;
    own.clock = env.clock;
    own.startupNotes = env.startupNotes;
    return std::make_unique<Station>(std::move(own));
}

} // namespace

Form1::Form1(AppEnvironment env, QWidget* parent)
    : Form1(OwnStation(env), nullptr, env, parent) {} // a copy: the order of arguments is free

Form1::Form1(Station& station, AppEnvironment env, QWidget* parent)
    : Form1(nullptr, &station, std::move(env), parent) {}

Form1::Form1(std::unique_ptr<Station>&& own, Station* station, AppEnvironment env, QWidget* parent)
    : QMainWindow(parent), ownStation_(std::move(own)), station_(station ? *station : *ownStation_),
      clock_(station_.Time()),
      ownMessages_(env.messages ? nullptr : std::make_unique<BoxPresenter>(this)),
      messages_(env.messages ? env.messages : ownMessages_.get()),
      findConverter_(std::move(env.findConverter)) {
    BuildWindow();
    station_.SetView(&view_); // last of the station's consumers
    station_.SetUploadsAllowed(Check1->isChecked());
    connect(Check1, &QCheckBox::toggled, &station_, &Station::SetUploadsAllowed);
    connect(&station_, &Station::uploadRunStarted, this, [this] { list3_.clear(); });
    connect(&station_, &Station::uploadReported, this, &Form1::Inet1_StateChanged);

    Timer1 = new QTimer(this);
    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
    Timer1->start(1000);

    import_ = new ImportMenu(MnuImport, this, Label5, station_.Import(), station_.ProgramFolder());
    connect(import_, &ImportMenu::fileFinished, this, &Form1::ImportFileFinished);

    Form_Load();
}

Form1::~Form1() {
    Form_Unload();
    station_.Events().RemoveListener(*Text3);
    station_.SetView(nullptr);
}

void Form1::BuildWindow() {
    BuildWidgets(this, station_.History());
    connect(panel_.Choices(), &QButtonGroup::idClicked, this, &Form1::Option1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(MnuImport, &QAction::triggered, this, &Form1::MnuImport_Click);
    connect(MnuExit, &QAction::triggered, this, &Form1::MnuExit_Click);
    connect(MnuDebug, &QAction::triggered, this, &Form1::MnuDebug_Click);
    new TelemetryExportAction(MnuExport, this, station_.History(), station_.ProgramFolder(), clock_,
                              station_.Config(), [this](const QString& t) { Log(t); });
    connect(MnuAbout, &QAction::triggered, this, &Form1::MnuAbout_Click);
    station_.Events().AddListener(*Text3, true); // the box shows what the log has, and follows it
}

void Form1::Form_Load() {
    // 1.-2. counters, handshake flag and paths: the station's, set as it was made.
    // 3.-6. the settings, the modem connection, the KISS log (and the station's
    // own parts after them); any failure ends the sequence with one message.
    const std::optional<ConfigError> failure = station_.Start();
    if (const auto& screenshot = station_.Config().screenshot) Command2->setEnabled(*screenshot);
    if (failure) return ShowOpenError(*failure);
    // 7.-9.
    try {
        if (station_.Limits().Started())
            limitsView_ = new LimitsView(station_.Limits(), panel_, *MSChart1, this);
        AttachArchiveChart(this, *this, station_.Archive().Service(), clock_);
        ShowSky();
        panel_.LabelFields();
        Form_Resize(); // the screenshot buffer takes the client area's size
        Option1_Click(kDefaultChartField);
    } catch (const std::exception& e) {
        ShowOpenError({kOpenErrorOther, e.what()});
    }
}

// The sky's line under the clock and its plot in Options, when the station knows the sky.
void Form1::ShowSky() {
    if (!station_.Sky().State()) return;
    QLabel* line = look::Label(centralWidget(), QString(), look::Tw(2160, 345, 8295, 225), false,
                               Qt::AlignRight);
    line->setObjectName(QStringLiteral("SkyLine"));
    QFont small = line->font();
    small.setPixelSize(11);
    line->setFont(small);
    StationArchive& archive = station_.Archive();
    skyView_ = new SkyView(
        station_.Sky(), line, Line1, menuBar()->findChild<QMenu*>(QStringLiteral("MnuOptions")),
        [&archive] { return archive.Running() ? archive.Service().ArchivePath() : QString(); },
        [this] { return UnixMillisecondsNow(clock_); }, this);
    Radio& radio = station_.Rig();
    skyView_->SetLineSuffix([&radio] { return radio.PassLine(); });
}

void Form1::ShowOpenError(const ConfigError& failure) {
    messages_->Show(MessagePresenter::Icon::Critical, QStringLiteral("Open Error"),
                    Utf8Text(OpenErrorText(failure)));
}

void Form1::Form_Resize() {
    if (centralWidget()) picture2_ = QImage(centralWidget()->size(), QImage::Format_RGB32);
}

void Form1::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    Form_Resize();
}

void Form1::Form_QueryUnload() {
    station_.CancelTransfers();
}

void Form1::Form_Unload() {
    if (unloaded_) return;
    unloaded_ = true;
    Timer1->stop();
    station_.Stop();
    if (InfoWindow) InfoWindow->close();
}

void Form1::closeEvent(QCloseEvent* event) {
    Form_QueryUnload();
    Form_Unload();
    event->accept();
}

void Form1::MnuExit_Click() {
    station_.CloseKissLog();
    close();
}

void Form1::MnuAbout_Click() {
    Info::ShowOne(InfoWindow);
}

// ------------------------------------------------------------------ modem link
void Form1::Command1_Click() {
    station_.Handshake();
}

void Form1::Winsock1_DataArrival(const HeardFrame& heard) {
    Label4->setText(Utf8Text(CallSignText(heard.data)));
}

void Form1::ShowCounters() {
    Label7->setText(QStringLiteral("RX packets: %1 | HTTP POST OK: %2")
                        .arg(station_.History().RxPacketCount())
                        .arg(station_.PostOkCount()));
}

void Form1::Post_Packet_Click() {
    station_.PostLatest();
}

void Form1::Inet1_StateChanged(const TransferReport& report) {
    // The station has logged it; the window lists the state and counts.
    list3_.append(Utf8Text(TransferStateName(report.state)));
    if (report.state == TransferState::ResponseCompleted) ShowCounters();
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

void Form1::FollowChart() {
    const QString caption = panel_.ChartCaption(chartField_);
    Frame5->setTitle(caption);
    MSChart1->RecordsCame(chartField_, caption);
}

void Form1::ShowTelemetryRecord(std::int32_t number) {
    if (!station_.History().IsStored(number)) return;
    const TelemetryRecord& record = station_.History().Record(number);
    panel_.ShowRecord(record);
    Label5->setText(QStringLiteral("last packet: ") + Utf8Text(record.timestamp));
}

void Form1::Timer1_Timer() {
    Label1->setText(Utf8Text(FormatClockLabel(UtcNow(clock_))));
    SetLamp(station_.Modem().LampGreen());
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
    ShowTelemetryRecord(station_.History().RxPacketCount());
    Label7->setText(QStringLiteral("KISS packets: ") +
                    QString::number(station_.History().RxPacketCount()) + QStringLiteral(" "));
}

void Form1::MnuDebug_Click() {
    const std::string name = DebugFileName(PathBytes(station_.ProgramFolder()),
                                           station_.Config().mycall, UtcNow(clock_));
    const DebugFileOutcome outcome = WriteDebugFile(name, station_.Events().DebugText(),
                                                    import_->Listing(), PathBytes(ConfigPath()));
    if (!outcome.configRead)
        Log("debug file: the configuration " + Utf8Bytes(ConfigPath()) +
            " cannot be read; written without it");
    if (!outcome.written) Log("debug file " + name + " could not be written");
}

QString Form1::ConverterProgram() const {
    return findConverter_ ? findConverter_() : screenshot::FindConverter();
}

void Form1::Command2_Click() {
    const screenshot::Outcome shot = screenshot::Take(centralWidget(), picture2_, ImagePath(),
                                                      clock_.Read(), ConverterProgram());
    if (!shot.saved) return Log("screenshot " + Utf8Bytes(shot.name) + " could not be saved");
    Label1->setText(shot.name + QStringLiteral(" saved")); // until the next tick
    if (shot.converterStarted) // at the end of the log, without timestamp
        station_.Events().AppendRaw(Utf8Bytes(screenshot::ConvertedLine(shot.name)));
    else
        messages_->Show(MessagePresenter::Icon::Information, QStringLiteral("Error"),
                        QStringLiteral("nconvert.exe not found"));
}

} // namespace tavrik
