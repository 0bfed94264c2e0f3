#pragma once
#include <QLabel>
#include <QPointer>
#include <QWidget>

namespace tavrik {

// The About window: name, maker, version and the disclaimer.
class Info : public QWidget {
    Q_OBJECT
  public:
    explicit Info(QWidget* parent = nullptr);
    void Form_Load();
    // Shows the one About window, made when there is none yet, and brings it forward.
    static void ShowOne(QPointer<Info>& window);

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* Label9 = nullptr;
    QLabel* Label10 = nullptr;
    QLabel* Label11 = nullptr;
    QLabel* Label12 = nullptr;
    QLabel* Image1 = nullptr;
};

QString VersionLine();

} // namespace tavrik
