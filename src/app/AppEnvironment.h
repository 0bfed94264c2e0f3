#pragma once
// What the main window takes from outside: its folder, clock, message boxes
// and the screenshot converter. Tests give their own.
#include <QString>
#include <functional>
#include <string>
#include <vector>

class QWidget;

namespace tavrik {

class Clock;

// Message boxes go through this, so tests can answer them without a dialog.
class MessagePresenter {
  public:
    enum class Icon { Information, Critical };
    virtual ~MessagePresenter() = default;
    // Shows the message and returns at once (the box does not block the loop).
    virtual void Show(Icon icon, const QString& title, const QString& text) = 0;
};

// Real message boxes that do not block: shown with open(), deleted when closed.
class BoxPresenter final : public MessagePresenter {
  public:
    explicit BoxPresenter(QWidget* parent) : parent_(parent) {}
    void Show(Icon icon, const QString& title, const QString& text) override;

  private:
    QWidget* parent_;
};

// Without a screen (the offscreen platform, a service): messages go to
// standard error only, and a start-up failure ("Open Error") ends the program
// with exit status 1, so that a service manager sees it fail.
class HeadlessPresenter final : public MessagePresenter {
  public:
    void Show(Icon icon, const QString& title, const QString& text) override;
};

struct AppEnvironment {
    QString programFolder;                // the folder of the executable by default
    const Clock* clock = nullptr;         // the system clock by default
    MessagePresenter* messages = nullptr; // real message boxes by default
    // Where the screenshot converter is; by default next to the program, then on PATH.
    std::function<QString()> findConverter;
    // Lines the start-up writes first, before the settings (where the folder came from).
    std::vector<std::string> startupNotes;
};

} // namespace tavrik
