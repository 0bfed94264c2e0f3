#include "app/Form1.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "app/EventLogView.h"
#include "app/Info.h"
#include "app/Look.h"
#include "files/DebugFile.h"
#include "intake/FrameText.h"
#include "upload/UploadStatus.h"

namespace tavrik {

namespace {

QString Latin1(const std::string& s) {
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

std::string Bytes(const QString& s) {
    return s.toLatin1().toStdString();
}

// File names are the file system's bytes, not Latin-1 text: a folder named in
// UTF-8 must be opened under the very bytes it has.
std::string PathBytes(const QString& path) {
    return QFile::encodeName(path).toStdString();
}
QString PathFromBytes(const std::string& bytes) {
    return QFile::decodeName(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

// Message boxes that do not block: shown with open(), deleted when closed.
class BoxPresenter final : public MessagePresenter {
  public:
    explicit BoxPresenter(QWidget* parent) : parent_(parent) {}
    void Show(Icon icon, const QString& title, const QString& text) override {
        QString shown = text;
        shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        auto* box = new QMessageBox(icon == Icon::Critical ? QMessageBox::Critical
                                                           : QMessageBox::Information,
                                    title, shown, QMessageBox::Ok, parent_);
        box->setAttribute(Qt::WA_DeleteOnClose);
        // The window may not be on screen yet during start-up: show the box
        // once the event loop runs, above the window.
        QTimer::singleShot(0, box, [box] { box->open(); });
    }

  private:
    QWidget* parent_;
};

constexpr int kStartupFailureKissLog = 75;
constexpr int kPortSettingError = 13;

} // namespace

Form1::Form1(AppEnvironment env, QWidget* parent)
    : QMainWindow(parent),
      programFolder_(env.programFolder.isEmpty() ? QCoreApplication::applicationDirPath()
                                                 : env.programFolder),
      ownClock_(env.clock ? nullptr : std::make_unique<SystemClock>()),
      clock_(env.clock ? env.clock : ownClock_.get()),
      ownMessages_(env.messages ? nullptr : std::make_unique<BoxPresenter>(this)),
      messages_(env.messages ? env.messages : ownMessages_.get()),
      findConverter_(std::move(env.findConverter)), pipeline_(*clock_, config_, history_, *this) {
    BuildWindow();
    BuildMenus();

    connect(&winsock1_, &AgwClient::connected, this, &Form1::Winsock1_Connect);
    connect(&winsock1_, &AgwClient::dataArrived, this, &Form1::Winsock1_DataArrival);
    connect(&winsock1_, &AgwClient::error, this, &Form1::Winsock1_Error);
    connect(&winsock1_, &AgwClient::remoteClosed, this, [this] {
        const std::size_t pending = winsock1_.PendingBytes();
        if (pending > 0)
            Log("AGW connection ended inside a frame: " + std::to_string(pending) +
                " bytes of it dropped");
        Log(std::string("AGW winsock connection closed"));
        winsock1_.Close();
    });
    connect(&winsock1_, &AgwClient::protocolError, this, [this](const QString& why) {
        Log("AGW protocol error, connection closed: " + Bytes(why));
        winsock1_.Close();
    });
    connect(&inet1_, &Uploader::runStarted, this, [this] { list3_.clear(); });
    connect(&inet1_, &Uploader::stateChanged, this, &Form1::Inet1_StateChanged);
    connect(&inet1_, &Uploader::logLine, this, [this](const QString& t) { Log(t); });

    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
    Timer1->start();

    arrivalTimer_ = new QTimer(this);
    arrivalTimer_->setSingleShot(true);
    arrivalTimer_->setInterval(0);
    connect(arrivalTimer_, &QTimer::timeout, this, &Form1::ProcessArrivedFrames);

    importTimer_ = new QTimer(this);
    importTimer_->setSingleShot(true);
    importTimer_->setInterval(0);
    connect(importTimer_, &QTimer::timeout, this, &Form1::ImportSlice);

    Form_Load();
}

Form1::~Form1() {
    Form_Unload();
    eventLog_.onAdded = nullptr;
}

// ------------------------------------------------------------------ window

void Form1::BuildWindow() {
    setWindowTitle(QStringLiteral("Tavrik Online Telemetry Decoder (Veskar)"));
    setWindowIcon(look::ProgramIcon());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(kClientWidth, kClientHeight);
    client->setAutoFillBackground(true);
    QPalette pal = client->palette();
    pal.setColor(QPalette::Window, look::kBackground);
    pal.setColor(QPalette::Button, look::kBackground);
    client->setPalette(pal);
    client->setFont(look::BaseFont());
    setCentralWidget(client);

    Image3 = look::Lamp(client, false, look::Tw(120, 120, 360, 240));
    Image2 = look::Lamp(client, true, look::Tw(120, 120, 360, 240));
    Image2->hide();
    Label3 = look::Label(client, QStringLiteral("AGW connection"), look::Tw(600, 120, 1335, 255));
    Label5 = look::Label(client, QString(), look::Tw(2160, 120, 6135, 255), true, Qt::AlignRight);
    Label1 = look::Label(client, QStringLiteral("UTC"), look::Tw(8520, 120, 1935, 375), true,
                         Qt::AlignRight);
    QFont clockFont = look::BaseFont();
    clockFont.setBold(true);
    clockFont.setPixelSize(13);
    Label1->setFont(clockFont);
    QPalette clockPal = Label1->palette();
    clockPal.setColor(QPalette::WindowText, QColor(0, 64, 64));
    Label1->setPalette(clockPal);
    Line1 = look::HLine(client, 120, 480, 10560);

    Frame2 = look::Group(client, QStringLiteral("Status"), look::Tw(120, 600, 3375, 1935));
    Label2Label2 = look::Group(client, QStringLiteral("TRXUV"), look::Tw(3600, 600, 3375, 2655));
    Frame4 = look::Group(client, QStringLiteral("Antennas / Solar Panels"),
                         look::Tw(7080, 600, 3375, 2655));
    Label4 = look::Label(client, QString(), look::Tw(120, 2760, 2175, 255), true);
    Frame3 = look::Group(client, QStringLiteral("Electrical Power Subsystem (EPS)"),
                         look::Tw(120, 3360, 10335, 2535));
    Frame5 = look::Group(client, QString(), look::Tw(120, 6000, 10335, 4095));

    Command2 = new QPushButton(QStringLiteral("S"), client);
    Command2->setGeometry(look::Tw(120, 10200, 255, 195));
    Command2->setPalette(QApplication::palette());
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    Check1 = new QCheckBox(QStringLiteral("allow data transfer"), client);
    Check1->setGeometry(look::Tw(480, 10200, 2175, 195));
    Check1->setChecked(true);
    Label7 =
        look::Label(client, QString(), look::Tw(6600, 10200, 3855, 255), false, Qt::AlignRight);
    Line2 = look::HLine(client, 0, 10560, 10440);

    Text3 = new EventLogView(eventLog_, client);
    Text3->setGeometry(look::Tw(120, 10800, 10215, 1455));
    QPalette logPal = Text3->palette();
    logPal.setColor(QPalette::Base, look::kBackground);
    logPal.setColor(QPalette::Text, QColor(128, 128, 128));
    Text3->setPalette(logPal);
    eventLog_.onAdded = [this](const std::string& entry, bool onTop) {
        Text3->EntryAdded(entry, onTop);
        // Mirrored to stderr, so an unattended station's log survives in its journal.
        std::fprintf(stderr, "%s\n", entry.c_str());
    };

    BuildPanel();
    BuildChart();

    adjustSize();
    setFixedSize(sizeHint());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect avail = screen->availableGeometry();
        move(avail.center() - rect().center());
    }
}

void Form1::BuildMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("MnuFile"));
    MnuImport = file->addAction(QStringLiteral("Import KISS file"));
    MnuExit = file->addAction(QStringLiteral("&Exit"));
    QMenu* options = menuBar()->addMenu(QStringLiteral("&Options"));
    options->setObjectName(QStringLiteral("MnuOptions"));
    MnuDebug = options->addAction(QStringLiteral("write debug file"));
    QMenu* info = menuBar()->addMenu(QStringLiteral("&Info"));
    info->setObjectName(QStringLiteral("MnuInfo"));
    MnuAbout = info->addAction(QStringLiteral("&About"));
    connect(MnuImport, &QAction::triggered, this, &Form1::MnuImport_Click);
    connect(MnuExit, &QAction::triggered, this, &Form1::MnuExit_Click);
    connect(MnuDebug, &QAction::triggered, this, &Form1::MnuDebug_Click);
    connect(MnuAbout, &QAction::triggered, this, &Form1::MnuAbout_Click);
}

void Form1::BuildPanel() {
    // Rows inside a group: top 360, every 240; button at 120, box at 2040, unit at 2880.
    struct Column {
        QGroupBox* group;
        int left; // twips, relative to the group
        std::vector<int> fields;
    };
    const std::vector<Column> columns = {
        {Frame2, 0, {0, 1, 2, 3, 4, 5}},
        {Label2Label2, 0, {6, 7, 8, 9, 10, 11, 12, 13}},
        {Frame4, 0, {14, 15, 16, 17, 41, 42, 43, 44, 45}},
        {Frame3, 0, {18, 19, 20, 21, 22, 23, 24, 25}},
        {Frame3, 3480, {26, 27, 28, 29, 30, 31, 32}},
        {Frame3, 6960, {33, 34, 35, 36, 37, 38, 39, 40}},
    };
    for (const Column& col : columns) {
        int top = 360;
        for (int i : col.fields) {
            auto* option = new QRadioButton(QStringLiteral("Option1"), col.group);
            option->setAutoExclusive(false); // one selection across all four groups, kept by hand
            option->setGeometry(look::Tw(col.left + 120, top, 1815, 255));
            option->setPalette(look::TextPalette());
            option->setFont(look::BaseFont());
            connect(option, &QRadioButton::clicked, this, [this, i] { Option1_Click(i); });

            // The state names need more room than a number: their boxes take the
            // unit caption's place, as the mode box of field 0 always did.
            const bool wide = i == 0 || i == 39 || i == 40;
            const int boxWidth = i == 0 ? 975 : wide ? 1215 : 735;
            auto* box = new QLineEdit(col.group);
            box->setReadOnly(true);
            box->setGeometry(look::Tw(col.left + 2040, top, boxWidth, 255));
            box->setTextMargins(0, 0, 0, 0);
            box->setFont(look::BaseFont());
            box->setPalette(look::BoxPalette(Qt::white));
            box->setFocusPolicy(Qt::NoFocus);

            auto* unit = new QLabel(col.group);
            if (i == 0)
                unit->setGeometry(look::Tw(col.left + 3120, top, 135, 255));
            else
                unit->setGeometry(look::Tw(col.left + 2880, top, 375, 255));
            unit->setFont(look::BaseFont());
            unit->setPalette(look::TextPalette());
            if (wide) unit->hide();

            Option1[static_cast<std::size_t>(i)] = option;
            Text1[static_cast<std::size_t>(i)] = box;
            Label2[static_cast<std::size_t>(i)] = unit;
            top += 240;
        }
    }
    Option1[5]->setChecked(true);
}

void Form1::BuildChart() {
    chart_ = new QChart();
    chart_->setTitle(QStringLiteral("graphical value"));
    chart_->legend()->hide();
    chart_->setMargins(QMargins(4, 2, 4, 2));
    chart_->setBackgroundRoundness(0);
    QFont titleFont = look::BaseFont();
    titleFont.setBold(true);
    chart_->setTitleFont(titleFont);
    series_ = new QLineSeries();
    series_->setPointsVisible(false);
    chart_->addSeries(series_);
    // A one-pixel line strokes far faster than the default two with 10000 rows.
    QPen pen = series_->pen(); // the theme's colour, given when the series joined the chart
    pen.setWidth(1);
    series_->setPen(pen);
    axisX_ = new QCategoryAxis();
    axisX_->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    axisX_->setLabelsFont(look::BaseFont());
    axisY_ = new QValueAxis();
    axisY_->setLabelsFont(look::BaseFont());
    chart_->addAxis(axisX_, Qt::AlignBottom);
    chart_->addAxis(axisY_, Qt::AlignLeft);
    series_->attachAxis(axisX_);
    series_->attachAxis(axisY_);
    chartView_ = new QChartView(chart_, Frame5);
    chartView_->setGeometry(look::Tw(120, 240, 10095, 3735));
    chartView_->setRenderHint(QPainter::Antialiasing, false);
}

// ------------------------------------------------------------------ start-up

void Form1::Form_Load() {
    // 1. counters and handshake flag: their initial values are set by construction.
    // 2. paths
    configPath_ = programFolder_ + QStringLiteral("/online_conf.ini");
    imagePath_ = programFolder_ + QStringLiteral("/");
    // 3.-9., any failure ends the sequence with one message.
    try {
        ReadStationConfig();

        const std::optional<HostPort> hp = SplitHostPort(config_.port);
        if (!hp) throw StartupFailure{kPortSettingError, "PORT is not host:port"};
        OpenAgwSession(Latin1(hp->host), hp->port);

        if (std::string why = OpenKissLog(); !why.empty())
            throw StartupFailure{kStartupFailureKissLog, "KISS log cannot be created: " + why};

        LabelPanel();
        Form_Resize(); // the screenshot buffer takes the client area's size
        Option1_Click(5);
    } catch (const StartupFailure& failure) {
        ShowOpenError(failure);
    } catch (const std::exception& e) {
        ShowOpenError({5, e.what()});
    }
}

void Form1::ReadStationConfig() {
    StationConfig defaults;
    defaults.imagePath = PathBytes(imagePath_);
    ConfigReadResult r = ReadStationConfigFile(PathBytes(configPath_), defaults);
    config_ = r.config;
    imagePath_ = PathFromBytes(config_.imagePath);
    if (config_.screenshot) Command2->setEnabled(*config_.screenshot);
    // A bad PORT still means the file was read: its settings line is written first.
    if (!r.error || r.error->number == kPortSettingError) {
        Log(SettingsLine(config_));
        if (const std::string extensions = ExtensionsLine(config_); !extensions.empty())
            Log(extensions);
    }
    if (r.error) throw StartupFailure{r.error->number, r.error->description};
}

void Form1::ShowOpenError(const StartupFailure& failure) {
    const QString text = QStringLiteral("The following error occured: \r\n") +
                         QStringLiteral("Error # ") + QString::number(failure.number) +
                         QStringLiteral("\r\n") + QStringLiteral("online_conf.ini ") +
                         Latin1(failure.description);
    messages_->Show(MessagePresenter::Icon::Critical, QStringLiteral("Open Error"), text);
}

void Form1::LabelPanel() {
    for (const FieldSpec& f : FieldTable()) {
        const auto i = static_cast<std::size_t>(f.index);
        Option1[i]->setText(
            QString::fromLatin1(f.caption.data(), static_cast<qsizetype>(f.caption.size())));
        Label2[i]->setText(
            QString::fromLatin1(f.unit.data(), static_cast<qsizetype>(f.unit.size())));
    }
}

void Form1::Form_Resize() {
    if (centralWidget()) picture2_ = QImage(centralWidget()->size(), QImage::Format_RGB32);
}

void Form1::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    Form_Resize();
}

// ------------------------------------------------------------------ shutdown

void Form1::Form_QueryUnload() {
    inet1_.CancelAll();
    if (import_) EndImport();
}

void Form1::Form_Unload() {
    if (unloaded_) return;
    unloaded_ = true;
    Timer1->stop();
    winsock1_.Close();
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
    arrivalTimer_->stop();
    for (const AgwFrame& frame : arrived_)
        if (frame.Kind() == 'K' && kissLog_.IsOpen())
            kissLog_.AppendFrame(UtcTimestamp(*clock_), frame.data);
    arrived_.clear();
}

void Form1::MnuExit_Click() {
    LogArrivedFrames();
    kissLog_.Close();
    kissLog_.RemoveIfEmpty();
    close();
}

void Form1::MnuAbout_Click() {
    if (!InfoWindow) {
        InfoWindow = new Info();
        InfoWindow->setAttribute(Qt::WA_DeleteOnClose);
    }
    InfoWindow->show();
    InfoWindow->raise();
    InfoWindow->activateWindow();
}

// ------------------------------------------------------------------ event log

void Form1::Log(const std::string& text) {
    eventLog_.Prepend(UtcTimestamp(*clock_), text);
}

// ------------------------------------------------------------------ AGW client

void Form1::OpenAgwSession(const QString& host, int port) {
    winsock1_.SetRemoteHost(host);
    winsock1_.SetRemotePort(port);
    Log("Winsock RemoteHost: " + Bytes(winsock1_.RemoteHost()));
    Log("Winsock RemotePort: " + std::to_string(winsock1_.RemotePort()));
    if (winsock1_.State() != AgwClient::Closed) winsock1_.Close();
    winsock1_.Connect();
}

void Form1::Winsock1_Connect() {
    Log(std::string("AGW winsock connection made"));
    if (handshakePending_) {
        Command1_Click();
        handshakePending_ = false;
    }
}

void Form1::Command1_Click() {
    if (winsock1_.State() != AgwClient::Connected) return;
    for (char kind : {'G', 'k'}) {
        const AgwHeader h = MakeAgwHeader(kind);
        winsock1_.Send(
            QByteArray(reinterpret_cast<const char*>(h.data()), static_cast<qsizetype>(h.size())));
    }
}

void Form1::Winsock1_DataArrival() {
    for (AgwFrame& frame : winsock1_.TakeFrames())
        arrived_.push_back(std::move(frame));
    ProcessArrivedFrames();
}

void Form1::ProcessArrivedFrames() {
    constexpr std::size_t kPauseAt = 1000, kResumeBelow = 100;
    QElapsedTimer budget;
    budget.start();
    while (!arrived_.empty()) {
        const AgwFrame frame = std::move(arrived_.front());
        arrived_.pop_front();
        if (frame.Kind() == 'K') pipeline_.ProcessRawFrame(frame.data);
        if (frame.Kind() == 'G') Log(PortInfoLine(frame));
        if (budget.elapsed() >= 10) break;
    }
    if (arrived_.size() >= kPauseAt)
        winsock1_.SetPaused(true);
    else if (arrived_.size() < kResumeBelow)
        winsock1_.SetPaused(false);
    if (!arrived_.empty()) arrivalTimer_->start();
}

void Form1::Winsock1_Error(int number, const QString& description) {
    Log("Winsock Error \"" + std::to_string(number) + "\" occured: " + Bytes(description));
    winsock1_.Close();
}

// ------------------------------------------------------------------ pipeline view

void Form1::ShowCallSigns(const std::string& text) {
    Label4->setText(Latin1(text));
}

bool Form1::UploadAllowed() const {
    return Check1->isChecked();
}

void Form1::Upload(const std::string&) {
    Post_Packet_Click();
}

void Form1::ShowCounters() {
    Label7->setText(QStringLiteral("RX packets: %1 | HTTP POST OK: %2")
                        .arg(history_.RxPacketCount())
                        .arg(postOkCount_));
}

std::string Form1::OpenKissLog() {
    const std::string name =
        KissLogName(PathBytes(programFolder_), config_.mycall, UtcNow(*clock_));
    std::string why = kissLog_.Open(name);
    if (why.empty()) pipeline_.SetKissLog(&kissLog_);
    return why;
}

// ------------------------------------------------------------------ uploads

void Form1::Post_Packet_Click() {
    inet1_.SetServers(Latin1(config_.server), Latin1(config_.serverBackup));
    const std::string& body = pipeline_.UploadBody();
    inet1_.EnqueueRun(QByteArray(body.data(), static_cast<qsizetype>(body.size())));
}

void Form1::Inet1_StateChanged(int state) {
    const std::string name = TransferStateName(state);
    if (name.empty()) return;
    list3_.append(Latin1(name));
    if (state == 11) {
        Log(ErrorLogText(inet1_.ResultCode(), Bytes(inet1_.ResultText())));
    } else if (state == 12) {
        const QByteArray header = inet1_.ResponseHeader();
        const std::string text = HeaderLogText(
            std::string_view(header.constData(), static_cast<std::size_t>(header.size())));
        const ResponseVerdict verdict = JudgeResponse(inet1_.HttpStatus());
        if (verdict.countAsOk) ++postOkCount_;
        ShowCounters();
        Log(text);
        if (verdict.addAccessDeniedLine) eventLog_.PrependRaw(std::string(kAccessDeniedLine));
    }
}

// ------------------------------------------------------------------ panel and chart

void Form1::Option1_Click(int index) {
    if (index < 0 || index >= kFieldCount) return;
    chartField_ = index;
    for (int i = 0; i < kFieldCount; ++i) {
        if (i == index) continue;
        Text1[static_cast<std::size_t>(i)]->setPalette(look::BoxPalette(Qt::white));
        Option1[static_cast<std::size_t>(i)]->setChecked(false);
    }
    Option1[static_cast<std::size_t>(index)]->setChecked(true);
    Text1[static_cast<std::size_t>(index)]->setPalette(look::BoxPalette(QColor(255, 255, 192)));
    RefreshChart(index);
}

QString Form1::Frame5Caption() const {
    return Frame5->title();
}

void Form1::RefreshChart(int field) {
    if (field < 0 || field >= kFieldCount) return;
    const auto f = static_cast<std::size_t>(field);
    const QString unit = Label2[f]->text();
    Frame5->setTitle(unit.isEmpty()
                         ? Option1[f]->text()
                         : Option1[f]->text() + QStringLiteral(" [") + unit + QStringLiteral("]"));

    // Rebuilt in full from the stored records; one replace() is one repaint.
    const auto& records = history_.Records();
    const std::size_t n = records.size();
    chartValues_.resize(n);
    chartLabels_.clear();
    chartLabels_.reserve(static_cast<qsizetype>(n));
    double lo = 0, hi = 0;
    for (std::size_t r = 0; r < n; ++r) {
        const double v = records[r].values[f];
        chartValues_[r] = v;
        const std::string& ts = records[r].timestamp;
        chartLabels_.append(ts.size() >= 16 ? Latin1(ts.substr(11, 5))
                                            : QString::number(static_cast<qulonglong>(r + 1)));
        if (r == 0 || v < lo) lo = v;
        if (r == 0 || v > hi) hi = v;
    }

    // The line is drawn from at most four points per pixel column (the first,
    // lowest, highest and last value of the rows that fall into it): the same
    // picture as every row drawn, at a fraction of the cost with 10000 rows.
    const qreal plotWidth = chart_->plotArea().width() > 0
                                ? chart_->plotArea().width()
                                : static_cast<qreal>(chartView_->width());
    const std::size_t columns = std::max<std::size_t>(64, static_cast<std::size_t>(plotWidth));
    QList<QPointF> points;
    auto add = [&](std::size_t r) {
        points.append(QPointF(static_cast<double>(r + 1), chartValues_[r]));
    };
    if (n <= 4 * columns) {
        points.reserve(static_cast<qsizetype>(n));
        for (std::size_t r = 0; r < n; ++r)
            add(r);
    } else {
        points.reserve(static_cast<qsizetype>(4 * columns));
        for (std::size_t c = 0; c < columns; ++c) {
            const std::size_t first = c * n / columns;
            const std::size_t last = (c + 1) * n / columns - 1;
            std::size_t low = first, high = first;
            for (std::size_t r = first + 1; r <= last; ++r) {
                if (chartValues_[r] < chartValues_[low]) low = r;
                if (chartValues_[r] > chartValues_[high]) high = r;
            }
            const std::size_t picks[] = {first, std::min(low, high), std::max(low, high), last};
            for (std::size_t k = 0; k < 4; ++k)
                if (k == 0 || picks[k] != picks[k - 1]) add(picks[k]);
        }
    }
    series_->replace(points);

    // Axis labels thinned to about ten, each a new hh:nn, so they stay
    // readable with 10000 rows.
    for (const QString& l : axisX_->categoriesLabels())
        axisX_->remove(l);
    const std::size_t step = std::max<std::size_t>(1, (n + 9) / 10);
    std::size_t lastLabelled = 0;
    // The axis's own list is a copy per call; rows of one minute would ask it thousands of times.
    QStringList shown;
    for (std::size_t r = 0; r < n; ++r) {
        const QString& label = chartLabels_[static_cast<qsizetype>(r)];
        if ((r == 0 || r >= lastLabelled + step) && !shown.contains(label)) {
            axisX_->append(label, static_cast<double>(r + 1));
            shown.append(label);
            lastLabelled = r;
        }
    }
    axisX_->setRange(1, std::max<double>(2, static_cast<double>(n)));
    if (hi == lo) {
        lo -= 1;
        hi += 1;
    }
    const double pad = (hi - lo) * 0.05;
    axisY_->setRange(lo - pad, hi + pad);
}

void Form1::ShowTelemetryRecord(std::int32_t number) {
    if (!history_.IsStored(number)) return;
    const TelemetryRecord& rec = history_.Record(number);
    for (int i = 0; i < kFieldCount; ++i) {
        if (auto text = ValueText(i, rec.values[static_cast<std::size_t>(i)]))
            Text1[static_cast<std::size_t>(i)]->setText(Latin1(*text));
    }
    Label5->setText(QStringLiteral("last packet: ") + Latin1(rec.timestamp));
}

// ------------------------------------------------------------------ clock

void Form1::Timer1_Timer() {
    Label1->setText(Latin1(FormatClockLabel(UtcNow(*clock_))));
    SetLamp(winsock1_.State() != AgwClient::Closed);
}

void Form1::SetLamp(bool green) {
    Image2->setVisible(green);
    Image3->setVisible(!green);
}

bool Form1::LampGreen() const {
    return !Image2->isHidden();
}

// ------------------------------------------------------------------ import

void Form1::MnuImport_Click() {
    if (import_ || importDialog_) return;
    auto* dialog = new QFileDialog(this, QStringLiteral("Import KISS file"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setNameFilters({QStringLiteral("Log Files (*.kss)"),
                            QStringLiteral("Text Files (*.txt)"),
                            QStringLiteral("All Files (*.*)")});
    dialog->setDirectory(programFolder_);
    connect(dialog, &QFileDialog::filesSelected, this, &Form1::ImportFiles);
    importDialog_ = dialog;
    dialog->open(); // a cancelled dialog imports nothing
}

void Form1::ImportFiles(const QStringList& paths) {
    if (import_ || paths.isEmpty()) return;
    list2_ = paths;
    import_.emplace();
    import_->files = list2_;
    MnuImport->setEnabled(false);
    setCursor(Qt::WaitCursor);
    StartNextImportFile();
}

void Form1::StartNextImportFile() {
    ImportState& st = *import_;
    while (st.next < st.files.size()) {
        st.path = st.files[st.next++];
        Log("processing " + Bytes(st.path));
        st.reader = std::make_unique<KissFileReader>();
        st.records.clear();
        st.recordIndex = 0;
        st.readingDone = false;
        const std::string why = st.reader->Open(PathBytes(st.path));
        if (why.empty()) {
            importTimer_->start(); // the event loop runs once before the file is read
            return;
        }
        Log("import of " + Bytes(st.path) + " skipped: " + why);
    }
    EndImport();
}

void Form1::ProcessImportedRecord(const KissRecord& record) {
    if (record.kind == KissRecord::Kind::Timestamp) return;
    if (record.kind == KissRecord::Kind::TooLong) {
        Log("import of " + Bytes(import_->path) + ": frame of " + std::to_string(record.length) +
            " bytes at byte " + std::to_string(record.offset) + " skipped (longer than " +
            std::to_string(kMaxImportFrame) + " bytes)");
        return;
    }
    pipeline_.LoadFrame(record.bytes);
    const std::string& text = pipeline_.TelemetryFrame();
    text2_ += text;
    text2_ += "\r\n";
    if (MatchesTelemetryHeader(text)) {
        Label5->setText(QStringLiteral("telemetry packet"));
        history_.DecodeTelemetryFrame(pipeline_.FrameBytes(), UtcTimestamp(*clock_));
    }
}

void Form1::ImportSlice() {
    if (!import_) return;
    ImportState& st = *import_;
    // Work for a few milliseconds, then let the loop run: live frames, the clock
    // and uploads go on between imported frames, never in the middle of one.
    QElapsedTimer budget;
    budget.start();
    if (st.reader->Position() == 0 && st.records.empty()) {
        // A frame's text takes at most three characters per file byte. Room for
        // the whole file is made once, instead of the listing being copied at
        // every doubling (tens of milliseconds each past 20 MB) while the loop waits.
        const std::size_t want =
            text2_.size() + static_cast<std::size_t>(std::min<std::uint64_t>(
                                3 * st.reader->Size(), std::uint64_t{256} << 20));
        if (text2_.capacity() < want) text2_.reserve(want);
    }
    while (budget.elapsed() < 8) {
        if (st.recordIndex < st.records.size()) {
            ProcessImportedRecord(st.records[st.recordIndex++]);
            continue;
        }
        if (st.readingDone) {
            // The chart and panel of the end get a slice of their own.
            if (budget.elapsed() > 1) break;
            FinishImportFile();
            return;
        }
        st.records.clear();
        st.recordIndex = 0;
        if (!st.reader->ReadSome(st.records)) st.readingDone = true;
    }
    if (st.reader->Size() > 0) {
        const int percent = static_cast<int>(100.0 * static_cast<double>(st.reader->Position()) /
                                             static_cast<double>(st.reader->Size()));
        Label5->setText(QFileInfo(st.path).fileName() + QStringLiteral(": ") +
                        QString::number(std::min(percent, 100)) + QStringLiteral(" %"));
    }
    importTimer_->start();
}

void Form1::FinishImportFile() {
    ImportState& st = *import_;
    if (!st.reader->Error().empty())
        Log("import of " + Bytes(st.path) + ": " + st.reader->Error() +
            ", rest of the file skipped");
    else if (st.reader->EndedInsideRecord())
        Log("import of " + Bytes(st.path) + ": the file ends inside a frame, which was dropped");
    st.reader.reset();
    Option1_Click(5); // selects field 5 and rebuilds its chart: no second refresh needed
    ShowTelemetryRecord(history_.RxPacketCount());
    Label7->setText(QStringLiteral("KISS packets: ") + QString::number(history_.RxPacketCount()) +
                    QStringLiteral(" "));
    StartNextImportFile();
}

void Form1::EndImport() {
    importTimer_->stop();
    import_.reset();
    MnuImport->setEnabled(true);
    unsetCursor();
}

// ------------------------------------------------------------------ debug file

void Form1::MnuDebug_Click() {
    const std::string name =
        DebugFileName(PathBytes(programFolder_), config_.mycall, UtcNow(*clock_));
    std::string configBytes;
    {
        std::ifstream in(PathBytes(configPath_), std::ios::binary);
        if (!in) {
            Log("debug file: the configuration " + Bytes(configPath_) +
                " cannot be read; written without it");
        } else {
            configBytes.assign(std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>());
        }
    }
    const std::string text = DebugFileText(eventLog_.Text(), text2_, configBytes);
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) Log("debug file " + name + " could not be written");
}

// ------------------------------------------------------------------ screenshot

QString Form1::ConverterProgram() const {
    if (findConverter_) return findConverter_();
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/nconvert");
    if (QFileInfo(beside).isExecutable()) return beside;
    return QStandardPaths::findExecutable(QStringLiteral("nconvert"));
}

void Form1::Command2_Click() {
    // 1. the client area into the buffer
    picture2_ = centralWidget()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    // 2. the name, by the local date
    const ClockReading now = clock_->Read();
    const QString name = imagePath_ + QStringLiteral("tavrik_") +
                         Latin1(FormatDateStamp(now.local)) + QStringLiteral(".bmp");
    // 3. saved as BMP
    if (!picture2_.save(name, "BMP")) {
        Log("screenshot " + Bytes(name) + " could not be saved");
        return;
    }
    // 4. shown until the next tick
    Label1->setText(name + QStringLiteral(" saved"));
    // 5. the converter, not waited for
    const QString converter = ConverterProgram();
    const QStringList args = {QStringLiteral("-out"),         QStringLiteral("png"),
                              QStringLiteral("-transpcolor"), QStringLiteral("240"),
                              QStringLiteral("240"),          QStringLiteral("240"),
                              QStringLiteral("-colors"),      QStringLiteral("256"),
                              QStringLiteral("-crop"),        QStringLiteral("1"),
                              QStringLiteral("37"),           QStringLiteral("707"),
                              QStringLiteral("640"),          QStringLiteral("-quiet"),
                              QStringLiteral("-D"),           name};
    if (converter.isEmpty() || !QProcess::startDetached(converter, args)) {
        messages_->Show(MessagePresenter::Icon::Information, QStringLiteral("Error"),
                        QStringLiteral("nconvert.exe not found"));
        return;
    }
    // 6. one line at the end of the log, without timestamp
    QString logged = name;
    logged.replace(QStringLiteral("bmp"), QStringLiteral("png"));
    eventLog_.AppendRaw(Bytes(logged + QStringLiteral(" converted and saved")));
}

} // namespace tavrik
