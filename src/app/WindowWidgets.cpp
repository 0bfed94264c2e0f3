#include "app/WindowWidgets.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>

#include "app/EventLogView.h"
#include "app/Look.h"
#include "app/TelemetryChart.h"

namespace tavrik {

void WindowWidgets::BuildWidgets(QMainWindow* window, const TelemetryHistory& history) {
    window->setWindowTitle(QStringLiteral("Tavrik Online Telemetry Decoder (Veskar)"));
    window->setWindowIcon(look::ProgramIcon());
    window->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

    auto* client = new QWidget(window);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(kClientWidth, kClientHeight);
    client->setAutoFillBackground(true);
    QPalette pal = client->palette();
    pal.setColor(QPalette::Window, look::kBackground);
    pal.setColor(QPalette::Button, look::kBackground);
    client->setPalette(pal);
    client->setFont(look::BaseFont());

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

    panel_.Build(client);
    Label4 = look::Label(client, QString(), look::Tw(120, 2760, 2175, 255), true);
    Frame5 = look::Group(client, QString(), look::Tw(120, 6000, 10335, 4095));
    MSChart1 = new TelemetryChart(history, Frame5);
    MSChart1->setGeometry(look::Tw(120, 240, 10095, 3735));

    Command2 = new QPushButton(QStringLiteral("S"), client);
    Command2->setGeometry(look::Tw(120, 10200, 255, 195));
    Command2->setPalette(QApplication::palette());
    Check1 = new QCheckBox(QStringLiteral("allow data transfer"), client);
    Check1->setGeometry(look::Tw(480, 10200, 2175, 195));
    Check1->setChecked(true);
    Label7 =
        look::Label(client, QString(), look::Tw(6600, 10200, 3855, 255), false, Qt::AlignRight);
    Line2 = look::HLine(client, 0, 10560, 10440);

    Text3 = new EventLogView(client);
    Text3->setGeometry(look::Tw(120, 10800, 10215, 1455));
    QPalette logPal = Text3->palette();
    logPal.setColor(QPalette::Base, look::kBackground);
    logPal.setColor(QPalette::Text, QColor(128, 128, 128));
    Text3->setPalette(logPal);
    window->setCentralWidget(client);

    window->adjustSize();
    window->setFixedSize(window->sizeHint());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect avail = screen->availableGeometry();
        window->move(avail.center() - window->rect().center());
    }
    BuildMenus(window);
}

void WindowWidgets::BuildMenus(QMainWindow* window) {
    QMenu* file = window->menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("MnuFile"));
    MnuImport = file->addAction(QStringLiteral("Import KISS file"));
    MnuExit = file->addAction(QStringLiteral("&Exit"));
    QMenu* options = window->menuBar()->addMenu(QStringLiteral("&Options"));
    options->setObjectName(QStringLiteral("MnuOptions"));
    MnuDebug = options->addAction(QStringLiteral("write debug file"));
    MnuExport = options->addAction(QStringLiteral("export telemetry (CSV)"));
    QMenu* info = window->menuBar()->addMenu(QStringLiteral("&Info"));
    info->setObjectName(QStringLiteral("MnuInfo"));
    MnuAbout = info->addAction(QStringLiteral("&About"));
}

QFileDialog* WindowWidgets::ImportDialog(QWidget* parent, const QString& folder) {
    auto* dialog = new QFileDialog(parent, QStringLiteral("Import KISS file"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setNameFilters({QStringLiteral("Log Files (*.kss)"),
                            QStringLiteral("Text Files (*.txt)"),
                            QStringLiteral("All Files (*.*)")});
    dialog->setDirectory(folder);
    return dialog;
}

} // namespace tavrik
