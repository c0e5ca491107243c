#include "keyboard_access.h"

#include <QAbstractButton>
#include <QEvent>
#include <QKeyEvent>
#include <QObject>

namespace {

// Enter and Return on the button it watches press it as Space does.
class EnterPresses : public QObject {
  public:
    explicit EnterPresses(QAbstractButton* button) : QObject(button), button_(button) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == button_ && event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if ((key == Qt::Key_Return || key == Qt::Key_Enter) && button_->isEnabled()) {
                button_->click();
                return true;
            }
        }
        return false;
    }

  private:
    QAbstractButton* button_;
};

} // namespace

void MakeKeyboardButton(QAbstractButton* button) {
    button->setFocusPolicy(Qt::TabFocus);
    button->installEventFilter(new EnterPresses(button));
}
