#pragma once
// The sky in the window: the next-pass line under the clock, and Options >
// "Sky..." with the polar sky plot (the current or next pass's track, where
// the satellite is now, and the last 30 days' frames where they were heard,
// read from the archive off the window's thread).
#include <QDialog>
#include <QLabel>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "station/qt/StationSky.h"

class QAction;
class QFrame;
class QMenu;

namespace tavrik {

// The plot itself: azimuth around (north up, east right), elevation inwards
// (the horizon the outer ring, the zenith the centre).
class SkyPlot : public QWidget {
    Q_OBJECT
  public:
    explicit SkyPlot(QWidget* parent = nullptr);
    void SetTrack(std::vector<std::pair<double, double>> track) {
        track_ = std::move(track);
        update();
    }
    void SetNow(std::optional<std::pair<double, double>> now) {
        now_ = now;
        update();
    }
    void SetDots(std::vector<std::pair<float, float>> dots) {
        dots_ = std::move(dots);
        update();
    }
    const std::vector<std::pair<float, float>>& Dots() const { return dots_; }
    QSize sizeHint() const override { return {440, 440}; }

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    QPointF Place(double azimuthDeg, double elevationDeg) const;
    std::vector<std::pair<double, double>> track_;
    std::optional<std::pair<double, double>> now_;
    std::vector<std::pair<float, float>> dots_;
};

class SkyView : public QObject {
    Q_OBJECT
  public:
    // line: the label under the clock; menu: Options; archivePath: the
    // archive's file ("" without one), asked when the plot opens.
    SkyView(StationSky& sky, QLabel* line, QFrame* rule, QMenu* options,
            std::function<QString()> archivePath, std::function<std::int64_t()> nowMs,
            QWidget* parent);
    QAction* Action() const { return action_; }
    // Opens (or raises) the plot.
    void OpenPlot();
    QDialog* PlotDialog() const { return dialog_; }
    SkyPlot* Plot() const { return plot_; }
    // More for the line after a comma (the rig and the antenna during a pass); "" adds nothing.
    void SetLineSuffix(std::function<std::string()> suffix) {
        suffix_ = std::move(suffix);
        Update();
    }

  signals:
    // The archive's dots have arrived (the plot is complete).
    void dotsLoaded();

  private:
    void Update();
    void UpdatePlot();
    void LoadDots();

    StationSky& sky_;
    QLabel* line_;
    QAction* action_ = nullptr;
    std::function<QString()> archivePath_;
    std::function<std::int64_t()> nowMs_;
    std::function<std::string()> suffix_;
    QWidget* parent_;
    QPointer<QDialog> dialog_;
    QPointer<SkyPlot> plot_;
    QPointer<QLabel> caption_;
    std::int64_t above_ = 0, below_ = 0;
};

} // namespace tavrik
