#pragma once
// A read-only value box of the telemetry panel. A new frame changes most of
// the 46 boxes at once, and the style's rounded, anti-aliased frame cost far
// more to draw than the number in it, and each box made the group behind it
// draw again: the group under the box and the frame are drawn once into a
// picture kept while the box's place and colours stay.
#include <QLineEdit>
#include <QPixmap>

namespace tavrik {

class ValueBox : public QLineEdit {
    Q_OBJECT
  public:
    explicit ValueBox(QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    const QPixmap& Panel();

    QPixmap panel_;  // the group behind the box, and the frame on it
    QPixmap behind_; // the group alone
    QRect panelAt_;  // where in the group the pictures were drawn
};

} // namespace tavrik
